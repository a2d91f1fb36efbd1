// Byte order, bit searches, bitmaps, lists, the scanner and the index ring.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "zel_util.h"

namespace {

TEST(Bits, SearchesAtTheEdges) {
    EXPECT_EQ(31, zel_msb32(0x80000000u));
    EXPECT_EQ(-1, zel_msb32(0));
    EXPECT_EQ(31, zel_ffs32(0x80000000u));
    EXPECT_EQ(4, zel_ffs32(0x30u));
    EXPECT_EQ(-1, zel_ffs32(0));
    EXPECT_EQ(-1, zel_ffz32(0xFFFFFFFFu));
    EXPECT_EQ(0, zel_ffz32(0));
    EXPECT_EQ(3, zel_ffz32(0x7u));
}

TEST(Bitmap, SearchStopsAtTheBitCount) {
    zel_bitmap_t words[2] = {0xFFFFFFFFu, 0x000000FFu};
    EXPECT_EQ(-1, zel_bitmap_ffz(words, 40));
    EXPECT_EQ(40, zel_bitmap_ffz(words, 41));
    EXPECT_EQ(-1, zel_bitmap_ffz(words, 0));
    zel_bitmap_t clear[2] = {0, 0x10};
    EXPECT_EQ(36, zel_bitmap_ffs(clear, 64));
    EXPECT_EQ(-1, zel_bitmap_ffs(clear, 36));

    uint8_t bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    zel_bitmap_reset(reinterpret_cast<zel_bitmap_t *>(bytes), 9);
    EXPECT_EQ(0, bytes[0]);
    EXPECT_EQ(0, bytes[1]);
    EXPECT_EQ(0xFF, bytes[2]);
}

TEST(ByteOrder, UnalignedLoadsAndStores) {
    uint8_t b[12] = {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0, 0, 0};
    EXPECT_EQ(0x3412, zel_get_unaligned_le16(b + 1));
    EXPECT_EQ(0x1234, zel_get_unaligned_be16(b + 1));
    EXPECT_EQ(0x78563412u, zel_get_unaligned_le32(b + 1));
    EXPECT_EQ(0x12345678u, zel_get_unaligned_be32(b + 1));
    EXPECT_EQ(0xF0DEBC9A78563412ull, zel_get_unaligned_le64(b + 1));
    EXPECT_EQ(0x123456789ABCDEF0ull, zel_get_unaligned_be64(b + 1));
    uint8_t out[9] = {};
    zel_put_unaligned_be32(0x01020304u, out + 1);
    EXPECT_EQ(0x01, out[1]);
    EXPECT_EQ(0x04, out[4]);
    zel_put_unaligned_le64(0x1122334455667788ull, out + 1);
    EXPECT_EQ(0x88, out[1]);
    EXPECT_EQ(0x11, out[8]);
    EXPECT_EQ(0x3412, zel_bswap_16(0x1234));
    EXPECT_EQ(0x78563412u, zel_bswap_32(0x12345678u));
}

struct Item {
    int value;
    zel_dlist_node_t node;
    Item *link;
};

std::vector<int> values(const zel_dlist_t &q) {
    std::vector<int> seen;
    for (zel_dlist_node_t *n = q.head; n; n = n->next) seen.push_back(ZEL_CONTAINER_OF(n, Item, node)->value);
    std::vector<int> back;
    for (zel_dlist_node_t *n = q.tail; n; n = n->prev)
        back.insert(back.begin(), ZEL_CONTAINER_OF(n, Item, node)->value);
    EXPECT_EQ(seen, back) << "forward and backward links disagree";
    return seen;
}

TEST(Dlist, QueueOperationsKeepHeadAndTail) {
    zel_dlist_t q;
    zel_dlist_init(&q);
    EXPECT_EQ(nullptr, zel_dlist_dequeue(&q));
    Item a{1, {}, nullptr}, b{2, {}, nullptr}, c{3, {}, nullptr};
    zel_dlist_append(&q, &a.node);
    EXPECT_TRUE(zel_dlist_is_in(&q, &a.node));  // a queue of one
    zel_dlist_remove(&q, &a.node);
    EXPECT_EQ(nullptr, q.head);
    EXPECT_EQ(nullptr, q.tail);
    EXPECT_FALSE(zel_dlist_is_in(&q, &a.node));

    zel_dlist_append(&q, &a.node);
    zel_dlist_append(&q, &c.node);
    zel_dlist_insert_before(&q, &c.node, &b.node);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), values(q));
    Item z{0, {}, nullptr};
    zel_dlist_insert_before(&q, &a.node, &z.node);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), values(q));
    zel_dlist_remove(&q, &c.node);
    zel_dlist_remove(&q, &z.node);
    EXPECT_EQ((std::vector<int>{1, 2}), values(q));
    EXPECT_EQ(&a.node, zel_dlist_dequeue(&q));
    EXPECT_EQ(nullptr, a.node.next);
    EXPECT_EQ(&b.node, zel_dlist_dequeue(&q));
    EXPECT_EQ(nullptr, q.tail);
}

TEST(Slist, AppendsAtTheLinkOffset) {
    Item a{1, {}, nullptr}, b{2, {}, nullptr}, c{3, {}, nullptr};
    b.link = &c;  // stale link is overwritten
    void *head = nullptr;
    zel_slist_append(&head, &a, offsetof(Item, link));
    zel_slist_append(&head, &b, offsetof(Item, link));
    zel_slist_append(&head, &c, offsetof(Item, link));
    EXPECT_EQ(&a, head);
    EXPECT_EQ(&b, a.link);
    EXPECT_EQ(&c, b.link);
    EXPECT_EQ(nullptr, c.link);
}

TEST(Scanner, ReadsTheConfigurationLine) {
    char id[128] = {}, pin[128] = {};
    EXPECT_EQ(2, zel_sscanf("PSNID : 123 PIN  : 4567", "PSNID : %127s PIN  : %127s", id, pin));
    EXPECT_STREQ("123", id);
    EXPECT_STREQ("4567", pin);
    // the same text with the file's tab and line ends
    EXPECT_EQ(2, zel_sscanf("PSNID\t: abc\r\nPIN \t: 99\r\n", "PSNID : %127s PIN  : %127s", id, pin));
    EXPECT_STREQ("abc", id);
    EXPECT_STREQ("99", pin);
}

TEST(Scanner, WidthsNumbersAndStrings) {
    char s[16] = {};
    EXPECT_EQ(1, zel_sscanf("abcdef", "%3s", s));
    EXPECT_STREQ("ab", s);
    int32_t d = 0;
    EXPECT_EQ(2, zel_sscanf("12ab", "%d%s", &d, s));
    EXPECT_EQ(12, d);
    EXPECT_STREQ("ab", s);
    uint32_t x = 0, o = 0, u = 0;
    EXPECT_EQ(3, zel_sscanf("ff 17 42", "%x %o %u", &x, &o, &u));
    EXPECT_EQ(0xFFu, x);
    EXPECT_EQ(15u, o);
    EXPECT_EQ(42u, u);
    EXPECT_EQ(1, zel_sscanf("12345", "%2d", &d));
    EXPECT_EQ(12, d);
    float f = 0;
    EXPECT_EQ(1, zel_sscanf("2.5", "%f", &f));
    EXPECT_FLOAT_EQ(2.5f, f);
    char c = 0;
    EXPECT_EQ(1, zel_sscanf("Q", "%c", &c));
    EXPECT_EQ('Q', c);
}

int scan_n(const char *text, size_t length, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = zel_vsscanf(text, length, format, ap);
    va_end(ap);
    return n;
}

// Numbers longer than the scratch buffer are read whole, as the C library
// reads them, and a text of a given length is never read past its end.
TEST(Scanner, LongNumbersAreReadWhole) {
    const std::string zeros(34, '0');
    int32_t d = -1;
    char rest[16] = {};
    EXPECT_EQ(2, zel_sscanf((zeros + "42x").c_str(), "%d%s", &d, rest));
    EXPECT_EQ(42, d);
    EXPECT_STREQ("x", rest);
    EXPECT_EQ(1, zel_sscanf((zeros + "42").c_str(), "%d", &d));  // up to the end of the text
    EXPECT_EQ(42, d);
    uint32_t u = 0;
    EXPECT_EQ(2, zel_sscanf(("0x" + zeros + "1f:x").c_str(), "%x:%s", &u, rest));
    EXPECT_EQ(0x1Fu, u);
    EXPECT_EQ(1, zel_sscanf(("-" + zeros + "7").c_str(), "%i", &d));
    EXPECT_EQ(-7, d);
    float f = 0;
    EXPECT_EQ(1, zel_sscanf(("0." + zeros + "25e35").c_str(), "%f", &f));
    EXPECT_FLOAT_EQ(2.5f, f);
    // A width beyond the scratch buffer counts characters as well.
    EXPECT_EQ(2, zel_sscanf((zeros + "4242").c_str(), "%37d%d", &d, &u));
    EXPECT_EQ(424, d);
    EXPECT_EQ(2u, u);

    // Bounded texts: only `length` characters are read, also when the number
    // runs to the end of them.
    const std::string digits = zeros + "1234567890";
    std::vector<char> exact(digits.begin(), digits.end());  // no terminator
    EXPECT_EQ(1, scan_n(exact.data(), exact.size() - 6, "%d", &d));
    EXPECT_EQ(1234, d);
    EXPECT_EQ(1, scan_n("56789", 2, "%u", &u));
    EXPECT_EQ(56u, u);
}

TEST(Scanner, LengthModifiersConvertNothing) {
    int32_t d = -1;
    // 'l' is ignored and the 'd' is then a literal character
    EXPECT_EQ(0, zel_sscanf("5", "%ld", &d));
    EXPECT_EQ(-1, d);
    EXPECT_EQ(1, zel_sscanf("d5", "%ld%d", &d));
    EXPECT_EQ(5, d);
}

TEST(Scanner, Scansets) {
    char out[8];
    memset(out, '#', sizeof out);
    EXPECT_EQ(1, zel_sscanf("aabx", "%[ab]", out));
    EXPECT_EQ(0, memcmp(out, "aab#", 4)) << "no terminator is written";
    memset(out, '#', sizeof out);
    EXPECT_EQ(1, zel_sscanf("aaaa", "%2[a]", out));
    EXPECT_EQ(0, memcmp(out, "aa#", 3));
    EXPECT_EQ(-1, zel_sscanf("abc", "%[abc", out));
    EXPECT_EQ(0, zel_sscanf("x", "y%d", out));
}

TEST(IndexRing, WrapsAndPeeks) {
    zel_idx_ring_t r;
    zel_idx_ring_init(&r, 8);
    uint16_t n = 6;
    EXPECT_EQ(0, zel_idx_ring_write(&r, &n));
    EXPECT_EQ(6, n);
    n = 4;
    EXPECT_EQ(0, zel_idx_ring_read(&r, &n));
    EXPECT_EQ(4, n);
    n = 5;
    EXPECT_EQ(6, zel_idx_ring_write(&r, &n));
    EXPECT_EQ(2, n) << "contiguous up to the end";
    n = 5;
    EXPECT_EQ(0, zel_idx_ring_write(&r, &n));
    EXPECT_EQ(4, n) << "the rest of the free space";
    n = 3;
    EXPECT_EQ(-1, zel_idx_ring_write(&r, &n));
    EXPECT_EQ(4, zel_idx_ring_peek_one(&r));
    EXPECT_EQ(5, zel_idx_ring_peek_one(&r));
    EXPECT_EQ(6, zel_idx_ring_unpeeked_length(&r));
    zel_idx_ring_peek_commit(&r);
    EXPECT_EQ(6, zel_idx_ring_length(&r));
    n = 8;
    EXPECT_EQ(6, zel_idx_ring_read(&r, &n));
    EXPECT_EQ(2, n);
}

}  // namespace
