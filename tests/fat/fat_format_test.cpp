// The FAT on-disk format over synthetic sectors: boot-sector checks and
// geometry, long-name runs, short names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zel_fatfs_format.h"

namespace {

struct Boot {
    uint16_t bps = 512;
    uint8_t spc = 1;
    uint16_t reserved = 1;
    uint8_t fats = 2;
    uint16_t root_entries = 512;
    uint32_t total = 0;
    uint32_t fat_size = 0;
    bool fat32 = false;
    uint16_t ext_flags = 0;
    uint32_t root_cluster = 2;
};

std::vector<uint8_t> sector_of(const Boot &b) {
    std::vector<uint8_t> s(4096, 0);
    auto put16 = [&](size_t at, uint32_t v) { s[at] = (uint8_t)v, s[at + 1] = (uint8_t)(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { put16(at, v), put16(at + 2, v >> 16); };
    s[0] = 0xEB;
    memcpy(&s[3], "mkfs.fat", 8);
    put16(11, b.bps);
    s[13] = b.spc;
    put16(14, b.reserved);
    s[16] = b.fats;
    put16(17, b.root_entries);
    if (!b.fat32 && b.total < 0x10000)
        put16(19, b.total);
    else
        put32(32, b.total);
    s[21] = 0xF8;
    if (b.fat32) {
        put32(36, b.fat_size);
        put16(40, b.ext_flags);
        put32(44, b.root_cluster);
    } else {
        put16(22, b.fat_size);
    }
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

int parse(const Boot &b, zel_fat_geometry_t *g, uint32_t block = 0, uint64_t device = 1ull << 40) {
    return zel_fat_parse_boot(sector_of(b).data(), block ? block : b.bps, device, g);
}

Boot fat32_boot() {
    Boot b;
    b.fat32 = true;
    b.root_entries = 0;
    b.reserved = 32;
    b.fat_size = 600;
    b.total = 32 + 2 * 600 + 70000;
    return b;
}

TEST(FatBoot, GeometryAndTypeFollowTheClusterCount) {
    zel_fat_geometry_t g;
    Boot fat16;
    fat16.spc = 4;
    fat16.fat_size = 40;
    fat16.total = 1 + 80 + 32 + 4 * 9000;
    ASSERT_EQ(0, parse(fat16, &g));
    EXPECT_EQ((uint32_t)ZEL_FAT16, g.type);
    EXPECT_EQ(32u, g.root_sectors);  // 512 entries of 32 bytes
    EXPECT_EQ(81u, g.root_start);
    EXPECT_EQ(113u, g.data_start);  // cluster 2 right after the root region
    EXPECT_EQ(9002u, g.cluster_limit);
    EXPECT_EQ(2u, g.cluster_shift);
    EXPECT_EQ(ZEL_FAT_MIRRORED, g.fat_active);

    // 4084 clusters make FAT12, 4085 make FAT16.
    Boot edge;
    edge.fats = 1;
    edge.root_entries = 16;
    edge.fat_size = 16;
    edge.total = 1 + 16 + 1 + 4084;
    ASSERT_EQ(0, parse(edge, &g));
    EXPECT_EQ((uint32_t)ZEL_FAT12, g.type);
    edge.total++;
    ASSERT_EQ(0, parse(edge, &g));
    EXPECT_EQ((uint32_t)ZEL_FAT16, g.type);

    // Root entries 0 is FAT32, whatever the cluster count.
    Boot small32 = fat32_boot();
    small32.total = 32 + 2 * 600 + 100;
    ASSERT_EQ(0, parse(small32, &g));
    EXPECT_EQ((uint32_t)ZEL_FAT32, g.type);
    EXPECT_EQ(0u, g.root_sectors);
    EXPECT_EQ(g.data_start, g.root_start);

    // One sector per cluster is a volume like any other.
    Boot one = fat32_boot();
    one.spc = 1;
    ASSERT_EQ(0, parse(one, &g));
    EXPECT_EQ(0u, g.cluster_shift);

    // Mirroring off: only the active FAT is used.
    Boot mirror = fat32_boot();
    mirror.ext_flags = 0x81;
    ASSERT_EQ(0, parse(mirror, &g));
    EXPECT_EQ(1u, g.fat_active);
}

TEST(FatBoot, SectorSizesMountOnlyWithAMatchingCache) {
    zel_fat_geometry_t g;
    for (uint16_t bps : {512, 1024, 2048, 4096}) {
        Boot b = fat32_boot();
        b.bps = bps;
        EXPECT_EQ(0, parse(b, &g)) << bps;
        EXPECT_EQ(-7, parse(b, &g, bps == 512 ? 1024 : 512)) << bps;
    }
    for (uint16_t bps : {256, 1536, 8192 & 0xFFFF, 0}) {
        Boot b = fat32_boot();
        b.bps = bps;
        EXPECT_EQ(-7, parse(b, &g)) << bps;
    }
}

TEST(FatBoot, GeometryThatDoesNotHoldTogetherIsRefused) {
    zel_fat_geometry_t g;
    struct Case {
        const char *what;
        Boot boot;
        uint64_t device;
    };
    std::vector<Case> cases;
    auto add = [&](const char *what, auto change, uint64_t device = 1ull << 40) {
        Boot b = fat32_boot();
        change(b);
        cases.push_back({what, b, device});
    };
    add("no sectors per cluster", [](Boot &b) { b.spc = 0; });
    add("sectors per cluster not a power of two", [](Boot &b) { b.spc = 3; });
    add("no reserved sectors", [](Boot &b) { b.reserved = 0; });
    add("no FATs", [](Boot &b) { b.fats = 0; });
    add("no FAT sectors", [](Boot &b) { b.fat_size = 0; });
    add("no sectors", [](Boot &b) { b.total = 0; });
    add("total sectors below the data start", [](Boot &b) { b.total = 32 + 2 * 600 - 1; });
    add("no whole cluster of data", [](Boot &b) { b.spc = 8, b.total = 32 + 2 * 600 + 7; });
    add("FAT too small for the clusters", [](Boot &b) { b.fat_size = 100, b.total = 32 + 200 + 70000; });
    add("root cluster below 2", [](Boot &b) { b.root_cluster = 1; });
    add("root cluster past the last", [](Boot &b) { b.root_cluster = 70002; });
    add("active FAT that does not exist", [](Boot &b) { b.ext_flags = 0x82; });
    add(
        "volume larger than its device", [](Boot &) {}, (uint64_t)(32 + 2 * 600 + 70000 - 1) * 512);
    for (const Case &c : cases) EXPECT_EQ(-7, parse(c.boot, &g, 0, c.device)) << c.what;

    // FAT32 with a 16-bit FAT size.
    auto s = sector_of(fat32_boot());
    s[22] = 1;
    EXPECT_EQ(-7, zel_fat_parse_boot(s.data(), 512, 1ull << 40, &g));

    // Swapped signature bytes.
    s = sector_of(fat32_boot());
    std::swap(s[510], s[511]);
    EXPECT_EQ(-7, zel_fat_parse_boot(s.data(), 512, 1ull << 40, &g));

    // exFAT: bytes 11 to 63 all zero.
    s = sector_of(fat32_boot());
    memset(&s[11], 0, 53);
    EXPECT_EQ(-7, zel_fat_parse_boot(s.data(), 512, 1ull << 40, &g));
    EXPECT_EQ((uint32_t)ZEL_EXFAT, g.type);
}

// ---- directory entries ----

std::vector<uint8_t> lfn(uint8_t ordinal, const std::u16string &units13) {
    std::vector<uint8_t> e(32, 0);
    std::u16string u = units13;
    if (u.size() < 13) u.push_back(0);
    while (u.size() < 13) u.push_back(0xFFFF);
    const size_t at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t i = 0; i < 13; i++) e[at[i]] = (uint8_t)u[i], e[at[i] + 1] = (uint8_t)(u[i] >> 8);
    e[0] = ordinal;
    e[11] = 0x0F;
    return e;
}

std::vector<uint8_t> short_entry(const char *name11, uint8_t attributes = 0x20, uint8_t case_flags = 0) {
    std::vector<uint8_t> e(32, 0);
    memcpy(e.data(), name11, 11);
    e[11] = attributes;
    e[12] = case_flags;
    return e;
}

// Parses one sector of entries; the name of the first complete entry.
struct Parsed {
    bool complete;
    std::string name;
    bool long_name;
    size_t index;
};

Parsed parse_entries(const std::vector<std::vector<uint8_t>> &entries) {
    std::vector<uint8_t> sector(512, 0);
    for (size_t i = 0; i < entries.size(); i++) memcpy(&sector[32 * i], entries[i].data(), 32);
    std::vector<uint8_t> names(ZEL_FAT_NAME_BUFFER, 0xCC);  // exactly the buffer: ASan sees any overrun
    zel_fatfs_parse_t st{};
    st.entry = sector.data();
    st.left = 16;
    st.names = names.data();
    Parsed p{};
    p.complete = zel_fatfs_parse_dentry(&st);
    p.index = (size_t)(st.entry - sector.data()) / 32;
    if (p.complete) {
        std::vector<char> out(ZEL_FAT_NAME_UTF8_MAX);
        zel_fatfs_dentry_name(&st, out.data());
        p.name = out.data();
        p.long_name = st.long_name;
    }
    return p;
}

TEST(FatNames, LongNamesComeOnlyFromWellFormedRuns) {
    const auto shortname = short_entry("LONGFI~1TXT");
    struct Case {
        const char *what;
        std::vector<std::vector<uint8_t>> entries;
        const char *name;
    };
    const Case cases[] = {
        {"two pieces, highest first", {lfn(0x42, u"n"), lfn(0x01, u"A long file n"), shortname}, "A long file nn"},
        {"a label between pieces",
            {lfn(0x42, u"x"), short_entry("LABEL      ", 0x08), lfn(0x01, u"abcdefghijklm"), shortname},
            "abcdefghijklmx"},
        {"ordinal 0x40: sequence 0", {lfn(0x40, u"zero"), shortname}, "LONGFI~1.TXT"},
        {"ordinal 0x50: sequence 16", {lfn(0x50, u"sixteen"), shortname}, "LONGFI~1.TXT"},
        {"ordinal 0x54: sequence 20", {lfn(0x54, u"twenty"), lfn(0x13, u"a"), lfn(0x01, u"b"), shortname},
            "LONGFI~1.TXT"},
        {"a gap", {lfn(0x43, u"c"), lfn(0x01, u"a"), shortname}, "LONGFI~1.TXT"},
        {"ascending", {lfn(0x01, u"a"), lfn(0x42, u"b"), shortname}, "LONGFI~1.TXT"},
        {"other high bits", {lfn(0x42, u"b"), lfn(0x81, u"a"), shortname}, "LONGFI~1.TXT"},
        {"a deleted entry between pieces", {lfn(0x42, u"b"), short_entry("\xE5OST    TXT"), lfn(0x01, u"a"), shortname},
            "LONGFI~1.TXT"},
        {"a run that never reaches 1", {lfn(0x42, u"b"), shortname}, "LONGFI~1.TXT"},
        {"non-ASCII in UTF-8", {lfn(0x41, u"\u00dcbung \u2713.txt"), shortname},
            "\xc3\x9c"
            "bung \xe2\x9c\x93.txt"},
        {"a surrogate pair", {lfn(0x41, u"\U0001F600"), shortname}, "\xf0\x9f\x98\x80"},
        {"an unpaired surrogate",
            {lfn(0x41, u"a\xd800"
                       "b"),
                shortname},
            "a\xef\xbf\xbd"
            "b"},
    };
    for (const Case &c : cases) {
        const Parsed p = parse_entries(c.entries);
        ASSERT_TRUE(p.complete) << c.what;
        EXPECT_EQ(c.name, p.name) << c.what;
        EXPECT_EQ(c.entries.size() - 1, p.index) << c.what;
    }
}

TEST(FatNames, FifteenPiecesFillTheBufferAndNoMore) {
    std::vector<std::vector<uint8_t>> entries;
    std::string want;
    for (int seq = 15; seq >= 1; seq--) {
        std::u16string u(13, (char16_t)('a' + seq));
        entries.push_back(lfn((uint8_t)(seq == 15 ? 0x40 | seq : seq), u));
    }
    for (int seq = 1; seq <= 15; seq++) want += std::string(13, (char)('a' + seq));
    entries.push_back(short_entry("LONGFI~1TXT"));
    const Parsed p = parse_entries(entries);
    ASSERT_TRUE(p.complete);
    EXPECT_TRUE(p.long_name);
    EXPECT_EQ(want, p.name);
}

TEST(FatNames, EndEntryAndUsedUpSector) {
    Parsed p = parse_entries({short_entry("\xE5"
                                          "GONE   TXT"),
        std::vector<uint8_t>(32, 0), short_entry("AFTER   TXT")});
    EXPECT_FALSE(p.complete);
    EXPECT_EQ(1u, p.index);  // stopped at the end entry

    std::vector<std::vector<uint8_t>> deleted(16, short_entry("\xE5"
                                                              "GONE   TXT"));
    p = parse_entries(deleted);
    EXPECT_FALSE(p.complete);
    EXPECT_EQ(16u, p.index);
}

TEST(FatNames, ShortNamesFollowCaseFlagsAndTheOemCharacterSet) {
    char out[ZEL_FAT_SHORT_UTF8_MAX];
    const struct {
        const char *name11;
        uint8_t case_flags;
        const char *want;
    } cases[] = {
        {"README  TXT", 0x18, "readme.txt"},
        {"README  TXT", 0x08, "readme.TXT"},
        {"README  TXT", 0x10, "README.txt"},
        {"MAKEFILE   ", 0x00, "MAKEFILE"},
        {"A          ", 0x18, "a"},
        {"\x81"
         "BER    TXT",
            0x18,
            "\xc3\xbc"
            "ber.txt"},  // 0x81 is u with diaeresis
        {"\x05"
         "B      TXT",
            0x00,
            "\xcf\x83"
            "B.TXT"},  // 0x05 stands for 0xE5
        {"\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 0x00,
            "\xc2\xa0\xc2\xa0\xc2\xa0\xc2\xa0\xc2\xa0\xc2\xa0\xc2\xa0\xc2\xa0.\xc2\xa0\xc2\xa0\xc2\xa0"},
    };
    for (const auto &c : cases) {
        zel_fat_dentry_t e{};
        memcpy(e.name, c.name11, 8);
        memcpy(e.ext, c.name11 + 8, 3);
        e.case_flags = c.case_flags;
        EXPECT_EQ(strlen(c.want), zel_fat_short_name(&e, out));
        EXPECT_STREQ(c.want, out);
    }

    zel_fat_dentry_t label{};
    memcpy(label.name, "DATA    ", 8);
    memcpy(label.ext, "   ", 3);
    char text[12];
    zel_fat_label_copy(&label, text);
    EXPECT_STREQ("DATA", text);
    memcpy(label.name, "        ", 8);
    zel_fat_label_copy(&label, text);
    EXPECT_STREQ("", text);
}

}  // namespace
