// A module that carries nothing but the resources built into it.
extern "C" int consumer_resources_present() {
  return 1;
}
