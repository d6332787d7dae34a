// cslib: the whole public interface. Include this one header.
#ifndef CSLIB_H
#define CSLIB_H

#include "cslib/export.h"
#include "cslib/frame.h"
#include "cslib/store.h"
#include "cslib/profile.h"
#include "cslib/text.h"
#include "cslib/memory.h"
#include "cslib/list.h"
#include "cslib/blocks.h"
#include "cslib/watch.h"
#include "cslib/sysinfo.h"
#include "cslib/process.h"
#include "cslib/strlist.h"
#include "cslib/mutex.h"
#include "cslib/sharedmem.h"
#include "cslib/registry.h"
#include "cslib/printer.h"
#include "cslib/percis.h"

#endif  // CSLIB_H
