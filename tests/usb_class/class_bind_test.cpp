// Which class binds which interface, with the six classes registered in
// the program's order; the "libusb" class record's life.
#include <gtest/gtest.h>

#include "script_hcd.h"
#include "usb_hooks.h"
#include "zel_test.h"
#include "zel_usbh_libusb.h"

namespace usb_class_test {
namespace {

using usb_test::config_desc;
using usb_test::device_desc;
using usb_test::Ifs;

constexpr uint8_t kSetConfiguration = 9;

bool sent_set_configuration(const ScriptHcd &hcd) {
    for (const zel_usbh_setup_t &s : hcd.control)
        if (s.bRequest == kSetConfiguration && s.bmRequestType == 0) return true;
    return false;
}

struct BindCase {
    const char *what;
    uint16_t vid, pid;
    std::vector<Ifs> interfaces;
    std::vector<std::string> expected;  // class per interface, "" for none
};

Ifs vendor_ifs(uint8_t number, uint8_t sub = 0, uint8_t proto = 0) { return {number, 0, 0xFF, sub, proto, {}, {}}; }

TEST(UsbClassBind, EachClassTakesItsIdsInTheProgramsOrder) {
    const Ifs no_hid_desc = {0, 0, 3, 0, 0, {{0x81, 3, 64, 1}}, {}};
    Ifs no_int_in = hid_ifs(0);
    no_int_in.eps = {{0x02, 3, 64, 1}};
    Ifs short_hid_desc = hid_ifs(0);
    short_hid_desc.extra = {6, 0x21, 0x11, 0x01, 0, 1};  // ends before the report descriptor's length
    const std::vector<BindCase> cases = {
        {"DS4 054C:05C4", 0x054C, 0x05C4, {hid_ifs(0)}, {"ds4"}},
        {"DS4 054C:09CC is ds4 before hid", 0x054C, 0x09CC, {hid_ifs(0)}, {"ds4"}},
        {"ds4 id 0738:8250", 0x0738, 0x8250, {hid_ifs(0)}, {"ds4"}},
        {"ds4 ids want a HID interface", 0x054C, 0x05C4, {vendor_ifs(0)}, {"libusb"}},
        {"Switch Pro", 0x057E, 0x2009, {hid_ifs(0)}, {"nspro"}},
        {"keyboard", 0x1234, 0x0001, {hid_ifs(0, 3, 1, 1)}, {"hid"}},
        {"xb360 FF/5D/01", 0x045E, 0x028E, {hid_ifs(0, 0xFF, 0x5D, 0x01)}, {"xb360"}},
        {"xb360 FF/5D/81", 0x045E, 0x0719, {hid_ifs(0, 0xFF, 0x5D, 0x81)}, {"xb360"}},
        {"xb360 only on interface 0", 0x045E, 0x028E, {vendor_ifs(0), hid_ifs(1, 0xFF, 0x5D, 0x01)}, {"libusb", ""}},
        {"mass storage", 0xABCD, 0x0000, {usb_test::msc_ifs(0)}, {"msc"}},
        {"mass storage beside a pad", 0xABCD, 0x0001, {usb_test::msc_ifs(0), hid_ifs(1)}, {"msc", "hid"}},
        {"vendor interface", 0xABCD, 0x0000, {vendor_ifs(0)}, {"libusb"}},
        {"HID without its descriptor", 0x1234, 0x0002, {no_hid_desc}, {"libusb"}},
        {"HID without interrupt IN", 0x1234, 0x0003, {no_int_in}, {"libusb"}},
        {"HID descriptor cut short", 0x1234, 0x0006, {short_hid_desc}, {"libusb"}},
    };
    for (const BindCase &c : cases) {
        SCOPED_TRACE(c.what);
        ScriptHcd hcd;
        hcd.dev.device = device_desc(c.vid, c.pid, 1);
        hcd.dev.configs = {config_desc(1, (uint8_t)c.interfaces.size(), c.interfaces)};
        zel_usbh_t *host = new_script_host(&hcd);
        zel_usbh_dev_t *dev = plug(host);
        ASSERT_NE(nullptr, dev);
        for (size_t i = 0; i < c.expected.size(); i++)
            EXPECT_EQ(c.expected[i], bound(dev, (int)i)) << "interface " << i;
        EXPECT_EQ(c.expected[0] != "libusb", sent_set_configuration(hcd))
            << "a device published through libusb stays unconfigured";
        unplug(host, dev);
        EXPECT_TRUE(hcd.live.empty()) << "every URB is freed with the device";
    }
    usb_test::events().take();
}

TEST(UsbClassBind, EndpointDescriptorsOfAnotherSizeRefuseTheHidInterface) {
    ScriptHcd hcd;
    hcd.dev.device = device_desc(0x1234, 0x0004, 1);
    Bytes config = config_desc(1, 1, {hid_ifs(0, 3, 0, 0)});
    // The interrupt IN endpoint becomes a 9-byte (audio-style) descriptor.
    const size_t ep = 9 + 9 + 9;
    ASSERT_EQ(5, config[ep + 1]);
    config[ep] = 9;
    config.insert(config.begin() + ep + 7, {0, 0});
    config[2] = (uint8_t)config.size();
    hcd.dev.configs = {config};
    zel_usbh_t *host = new_script_host(&hcd);
    zel_usbh_dev_t *dev = plug(host);
    EXPECT_EQ("libusb", bound(dev, 0));
    unplug(host, dev);
    usb_test::events().take();
}

// ---- the "libusb" class record ----

struct Reports {
    std::vector<std::pair<int, zel_usbh_libusb_dev_t *>> seen;
};

void record_report(void *param, zel_usbh_libusb_dev_t *record, int event) {
    static_cast<Reports *>(param)->seen.emplace_back(event, record);
}

TEST(UsbClassBind, LibusbRecordIsReportedOpenedOnceAndFreedAtTheLastClose) {
    Reports reports;
    zel_test::run_as_irq([&] { zel_usbh_libusb_set_evthandler(&reports, record_report); });
    ScriptHcd hcd;
    hcd.dev.device = device_desc(0xABCD, 0x0000, 1, 16, 0xFF);
    hcd.dev.configs = {config_desc(1, 1, {vendor_ifs(0)})};
    zel_usbh_t *host = new_script_host(&hcd);
    zel_usbh_dev_t *dev = plug(host);

    ASSERT_EQ(1u, reports.seen.size());
    EXPECT_EQ(ZEL_USBH_LIBUSB_ARRIVED, reports.seen[0].first);
    zel_usbh_libusb_dev_t *r = reports.seen[0].second;
    EXPECT_EQ(0xABCD, r->idVendor);
    EXPECT_EQ(0x0000, r->idProduct);
    EXPECT_EQ(0xFF, r->bDeviceClass);
    EXPECT_EQ(16, r->bMaxPacketSize0);
    EXPECT_EQ(dev->address, r->address);
    EXPECT_EQ(ZEL_PIPE_VALID, r->urb.pipe.word) << "a bare pipe until a URB is needed";
    EXPECT_EQ(r, dev->ifs[0].param);

    int32_t first = 1, second = 1;
    zel_test::run_as_irq([&] {
        first = zel_usbh_libusb_open(r);
        second = zel_usbh_libusb_open(r);
    });
    EXPECT_EQ(0, first);
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, second);

    // Unplugged while open: reported as left, kept until its close.
    unplug(host, dev);
    ASSERT_EQ(2u, reports.seen.size());
    EXPECT_EQ(ZEL_USBH_LIBUSB_LEFT, reports.seen[1].first);
    EXPECT_EQ(r, reports.seen[1].second);
    EXPECT_EQ(1, r->free_when_closed);
    EXPECT_EQ(0xABCD, r->idVendor) << "still readable";
    zel_test::run_as_irq([&] { zel_usbh_libusb_close(r); });  // frees it (the leak check knows)

    // A device bound while no callback is set is never reported as arrived,
    // also once one is set; its departure is.
    zel_test::run_as_irq([&] { zel_usbh_libusb_set_evthandler(nullptr, nullptr); });
    dev = plug(host);
    EXPECT_EQ("libusb", bound(dev, 0));
    zel_test::run_as_irq([&] { zel_usbh_libusb_set_evthandler(&reports, record_report); });
    zel_test::settle();
    EXPECT_EQ(2u, reports.seen.size());
    unplug(host, dev);
    ASSERT_EQ(3u, reports.seen.size());
    EXPECT_EQ(ZEL_USBH_LIBUSB_LEFT, reports.seen[2].first);
    zel_test::run_as_irq([&] { zel_usbh_libusb_set_evthandler(nullptr, nullptr); });
    usb_test::events().take();
}

}  // namespace
}  // namespace usb_class_test
