#!/bin/sh
# Every symbol libcslib.so exports belongs to its interface: a plain-named function,
# or a member, virtual table or type information of an exported class.
set -eu
lib=$1
syms=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//')
[ -n "$syms" ] || { echo "no exported symbols"; exit 1; }
demangled=$(printf '%s\n' "$syms" | c++filt)
bad=$(printf '%s\n' "$demangled" | grep -v -E \
  '^(CS|CIS)[A-Za-z0-9_]*$|^(SwitchPort|FindDEZUEnum|SetDEZUEnum)$|^(typeinfo for |typeinfo name for |vtable for )?(CS|CIS|CrossInstanceStore|Per|RegKey)[A-Za-z0-9_]*(::|$)|^(_init|_fini|_edata|_end|__bss_start)$' \
  || true)
if [ -n "$bad" ]; then
  echo "symbols outside the interface are exported:"; printf '%s\n' "$bad"; exit 1
fi
for must in CSIsValidReadPtr CSGetOSVersion CSStrlen CSiStrlen CSwStrlen CSChar2iChar \
            CSSprintf CSiSprintf CSwSprintf \
            CISGetProfileString CISGetPrivateProfileString CISGetProfileInt \
            CISGetPrivateProfileInt CISWriteProfileString CISWritePrivateProfileString \
            CISWriteProfileInt CISWritePrivateProfileInt \
            CSCreateProcess CSLoadLibrary CSLoadString CSGetPrinterDriverDirectory \
            CSGetAllFriendlyNames CSGetAllFriendlyNamesAndPorts SwitchPort FindDEZUEnum \
            SetDEZUEnum; do
  printf '%s\n' "$syms" | grep -qx "$must" || { echo "missing export: $must"; exit 1; }
done
for must in 'vtable for PerCIS' 'vtable for PerUserFriendlyName' 'PerCIS::IsPerCIS() const'; do
  printf '%s\n' "$demangled" | grep -qxF "$must" || { echo "missing export: $must"; exit 1; }
done
echo "exports ok: $(printf '%s\n' "$syms" | wc -l) symbols"
