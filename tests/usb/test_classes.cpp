#include "test_classes.h"

namespace usb_test {

namespace {

TestClass g_classes[4];

template <int N>
void *probe(zel_usbh_t *host, zel_usbh_dev_t *, zel_usbh_ifs_parser_t *entry) {
    TestClass &c = g_classes[N];
    const zel_usbh_ifs_alt_t *alt = zel_usbh_parser_alt(entry);
    events().add(std::string("probe ") + c.drv.name + " ifs" + std::to_string(alt->desc->bInterfaceNumber) + " alt" +
                 std::to_string(alt->desc->bAlternateSetting));
    if (!c.accept) return nullptr;
    if (c.skip_set_config && host->enum_ctx) host->enum_ctx->flags |= ZEL_USBH_ENUM_SKIP_SET_CONFIG;
    return &c.param;
}

template <int N>
void disconnect(zel_usbh_t *, zel_usbh_dev_t *, void *param) {
    TestClass &c = g_classes[N];
    events().add(std::string("disconnect ") + c.drv.name + (param == &c.param ? "" : " with a stray parameter"));
}

using Probe = void *(*)(zel_usbh_t *, zel_usbh_dev_t *, zel_usbh_ifs_parser_t *);
using Disconnect = void (*)(zel_usbh_t *, zel_usbh_dev_t *, void *);
const Probe kProbes[4] = {probe<0>, probe<1>, probe<2>, probe<3>};
const Disconnect kDisconnects[4] = {disconnect<0>, disconnect<1>, disconnect<2>, disconnect<3>};

}  // namespace

TestClass &test_class(int n, const char *name, std::vector<zel_usbh_dev_id_t> ids) {
    TestClass &c = g_classes[n];
    c = TestClass{};
    c.ids = std::move(ids);
    c.drv = {name, (uint32_t)c.ids.size(), c.ids.data(), kProbes[n], kDisconnects[n]};
    c.node.drv = &c.drv;
    return c;
}

}  // namespace usb_test
