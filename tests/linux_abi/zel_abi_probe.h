// Tables that describe the layer's C library from one side: either as the
// programs inside the layer see it (compiled against the layer's headers
// alone) or as the layer's implementation sees it (zel_linux_libc.h next to
// the host's headers).  Only built-in types here: this header is compiled
// in both worlds.
#pragma once

struct zel_abi_call {
    const char *symbol;  // zel_linux_ symbol without the prefix
    const char *type;    // the function pointer type, as the compiler spells it
};

struct zel_abi_value {
    const char *name;
    long value;
};

struct zel_abi_layout {
    const char *name;  // "record" for its size and alignment, "record.field" for an offset
    unsigned long size;
    unsigned long offset_or_alignment;
};

// The compiler's own spelling of T, e.g. "int (*)(int, void*, long unsigned int)".
template <class T>
constexpr const char *zel_abi_type_name() {
    return __PRETTY_FUNCTION__;
}

#define ZEL_ABI_TABLE(type, name) \
    extern const type name[];     \
    extern const unsigned long name##_count

// As the programs inside the layer see it.
ZEL_ABI_TABLE(zel_abi_call, zel_abi_tree_calls);
ZEL_ABI_TABLE(zel_abi_value, zel_abi_tree_constants);
ZEL_ABI_TABLE(zel_abi_value, zel_abi_tree_errno);
ZEL_ABI_TABLE(zel_abi_layout, zel_abi_tree_layouts);
