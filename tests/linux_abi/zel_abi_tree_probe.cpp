// The layer's C library as a program inside the layer sees it: compiled
// against the layer's headers alone, as C++ (which also proves that the
// headers work from C++).
#include "zel_abi_headers.inc"

#include "zel_abi_probe.h"

#define ZEL_ABI_COUNT(table) const unsigned long table##_count = sizeof(table) / sizeof(table[0])

#define ZEL_ABI_CALL(expression, symbol) {#symbol, zel_abi_type_name<decltype(&::expression)>()},
const zel_abi_call zel_abi_tree_calls[] = {
#include "zel_abi_tree_calls.inc"
};
ZEL_ABI_COUNT(zel_abi_tree_calls);

#define ZEL_ABI_CONSTANT(name) {#name, (long)(name)},
const zel_abi_value zel_abi_tree_constants[] = {
#include "zel_abi_constants.inc"
};
ZEL_ABI_COUNT(zel_abi_tree_constants);

#define ZEL_ABI_ERRNO(name) {#name, name},
const zel_abi_value zel_abi_tree_errno[] = {
#include "zel_abi_errno.inc"
};
ZEL_ABI_COUNT(zel_abi_tree_errno);

#define ZEL_ABI_RECORD(type, zel_type, origin) {#zel_type, sizeof(type), alignof(type)},
#define ZEL_ABI_FIELD(type, zel_type, field, origin) \
    {#zel_type "." #field, sizeof(((type *)0)->field), offsetof(type, field)},
const zel_abi_layout zel_abi_tree_layouts[] = {
#include "zel_abi_records.def"
};
ZEL_ABI_COUNT(zel_abi_tree_layouts);
