// The three views of the layer's C library agree: the headers that programs
// inside the layer compile against, zel_linux_libc.h that the layer is
// written against, and (where a record claims it) the host C library.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <string>

#include "zel_abi_probe.h"
#include "zel_linux_libc.h"

namespace {

// "... [with T = int (*)(zel_linux_fd*)]" -> "int (*)(fd*)": both sides
// spell the same records with and without the zel_linux_ prefix.
std::string normalised_type(const std::string &pretty) {
    const auto start = pretty.find("T = ");
    std::string type = pretty.substr(start + 4, pretty.rfind(']') - start - 4);
    for (auto at = type.find("zel_linux_"); at != std::string::npos; at = type.find("zel_linux_")) type.erase(at, 10);
    return type;
}

template <class Entry, class Value>
std::map<std::string, Value> by_name(const Entry *table, unsigned long count, Value (*value)(const Entry &)) {
    std::map<std::string, Value> map;
    for (unsigned long i = 0; i < count; ++i) map.emplace(table[i].name, value(table[i]));
    return map;
}

long value_of(const zel_abi_value &entry) { return entry.value; }

std::pair<unsigned long, unsigned long> layout_of(const zel_abi_layout &entry) {
    return {entry.size, entry.offset_or_alignment};
}

#define ZEL_ABI_CALL(symbol) {#symbol, zel_abi_type_name<decltype(&::zel_linux_##symbol)>()},
const zel_abi_call impl_calls[] = {
#include "zel_abi_impl_calls.inc"
};
#undef ZEL_ABI_CALL

#define ZEL_ABI_CONSTANT(name) {#name, (long)(ZEL_LINUX_##name)},
const zel_abi_value impl_constants[] = {
#include "zel_abi_constants.inc"
};
#undef ZEL_ABI_CONSTANT

#define ZEL_ABI_ERRNO(name) {#name, name},
const zel_abi_value host_errno[] = {
#include "zel_abi_errno.inc"
};
#undef ZEL_ABI_ERRNO

#define ZEL_ABI_RECORD(type, zel_type, origin) {#zel_type, sizeof(zel_type), alignof(zel_type)},
#define ZEL_ABI_FIELD(type, zel_type, field, origin) \
    {#zel_type "." #field, sizeof(((zel_type *)0)->field), offsetof(zel_type, field)},
const zel_abi_layout impl_layouts[] = {
#include "zel_abi_records.def"
};
#undef ZEL_ABI_RECORD
#undef ZEL_ABI_FIELD

// The host C library's records, for the rows that claim its layout.
#define ZEL_ABI_RECORD(type, zel_type, origin) ZEL_ABI_##origin(#zel_type, sizeof(type), alignof(type))
#define ZEL_ABI_FIELD(type, zel_type, field, origin) \
    ZEL_ABI_##origin(#zel_type "." #field, sizeof(((type *)0)->field), offsetof(type, field))
#define ZEL_ABI_GLIBC(name, size, offset) {name, size, offset},
#define ZEL_ABI_OWN(name, size, offset)
const zel_abi_layout host_layouts[] = {
#include "zel_abi_records.def"
};

TEST(LinuxAbi, EveryBoundCallIsDeclaredForTheLayerWithTheSameType) {
    std::map<std::string, std::string> tree;
    for (unsigned long i = 0; i < zel_abi_tree_calls_count; ++i) {
        const auto &call = zel_abi_tree_calls[i];
        const auto type = normalised_type(call.type);
        // localtime() shares zel_linux_gmtime: one symbol may be bound twice.
        const auto [it, fresh] = tree.emplace(call.symbol, type);
        EXPECT_TRUE(fresh || it->second == type) << call.symbol << " is bound with two types";
    }
    std::map<std::string, std::string> impl;
    for (const auto &call : impl_calls) impl.emplace(call.symbol, normalised_type(call.type));

    for (const auto &[symbol, type] : tree) {
        const auto found = impl.find(symbol);
        if (found == impl.end())
            ADD_FAILURE() << "zel_linux_" << symbol << " is bound by the headers but missing from zel_linux_libc.h";
        else
            EXPECT_EQ(type, found->second) << "zel_linux_" << symbol;
    }
    for (const auto &[symbol, type] : impl)
        EXPECT_TRUE(tree.count(symbol)) << "zel_linux_" << symbol
                                        << " is declared for the layer but bound by no header";
}

TEST(LinuxAbi, ConstantsAreTheSameOnBothSides) {
    const auto tree = by_name(zel_abi_tree_constants, zel_abi_tree_constants_count, value_of);
    for (const auto &constant : impl_constants) {
        ASSERT_TRUE(tree.count(constant.name)) << constant.name;
        EXPECT_EQ(tree.at(constant.name), constant.value) << constant.name;
    }
}

TEST(LinuxAbi, LayerFlagValuesAreItsOwn) {
    // Programs compiled with the host's values would misread every flag.
    EXPECT_EQ(ZEL_LINUX_O_CREAT | ZEL_LINUX_O_TRUNC | ZEL_LINUX_O_WRONLY, 0x601);
    EXPECT_EQ(ZEL_LINUX_O_NONBLOCK, 4);
    EXPECT_EQ(ZEL_LINUX_POLLOUT, 2);
    EXPECT_EQ(ZEL_LINUX_SOL_SOCKET, 0xFFFF);
    EXPECT_EQ(ZEL_LINUX_SO_NONBLOCK, 100);
    EXPECT_NE(ZEL_LINUX_O_CREAT, O_CREAT);
    EXPECT_NE(ZEL_LINUX_POLLOUT, POLLOUT);
}

TEST(LinuxAbi, ErrnoNumbersAreLinuxSoHostErrorsPassUnchanged) {
    ASSERT_GT(zel_abi_tree_errno_count, 40u);
    const auto host = by_name(host_errno, sizeof(host_errno) / sizeof(host_errno[0]), value_of);
    for (unsigned long i = 0; i < zel_abi_tree_errno_count; ++i) {
        const auto &entry = zel_abi_tree_errno[i];
        EXPECT_EQ(entry.value, host.at(entry.name)) << entry.name;
    }
}

TEST(LinuxAbi, RecordsHaveTheSameLayoutOnBothSides) {
    const auto tree = by_name(zel_abi_tree_layouts, zel_abi_tree_layouts_count, layout_of);
    for (const auto &entry : impl_layouts) EXPECT_EQ(tree.at(entry.name), layout_of(entry)) << entry.name;
}

TEST(LinuxAbi, SharedRecordsHaveTheHostLayout) {
    const auto impl = by_name(impl_layouts, sizeof(impl_layouts) / sizeof(impl_layouts[0]), layout_of);
    for (const auto &entry : host_layouts) EXPECT_EQ(impl.at(entry.name), layout_of(entry)) << entry.name;
    EXPECT_EQ(sizeof(zel_linux_stat::st_size), 8u);
    EXPECT_EQ(sizeof(zel_linux_termios), 56u);
}

}  // namespace
