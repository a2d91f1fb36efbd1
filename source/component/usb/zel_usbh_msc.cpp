// The mass-storage class driver "msc": probe, start-up under the device
// mutex, disconnect, and Bulk-Only Transport as the execute operation of a
// SCSI device.
#include <string.h>

#include "zel_fs.h"
#include "zel_heap.h"
#include "zel_subcall.h"
#include "zel_usbh_hooks.h"
#include "zel_usbh_msc.h"

namespace {

const zel_usbh_dev_id_t kMscIds[] = {
    {ZEL_USBH_MATCH_IFS_CLASS | ZEL_USBH_MATCH_IFS_SUBCLASS | ZEL_USBH_MATCH_IFS_PROTOCOL, 0, 0, 0, 0, 0, 0, 0, 0x08,
        0x06, 0x50},
};

// Contexts whose SCSI device the application got: kept after disconnect so
// that a late command answers -7 instead of touching freed memory.
zel_usbh_msc_t *g_retired;

// Interfaces matched but not taken for want of memory or a host thread.
uint32_t g_refused;

zel_usbh_msc_t *of_scsi(zel_scsi_t *scsi) { return ZEL_CONTAINER_OF(scsi, zel_usbh_msc_t, scsi); }
zel_usbh_msc_t *of_agent(zel_eda_t *agent) { return ZEL_CONTAINER_OF(agent, zel_usbh_msc_t, agent); }

bool is_bulk_ep(const zel_usb_endpoint_desc_t *ep) {
    return ep && ep->bLength == sizeof(zel_usb_endpoint_desc_t) && ep->bDescriptorType == ZEL_USB_DT_ENDPOINT &&
           ep->bmAttributes == ZEL_USB_XFER_BULK;
}

void free_urbs(zel_usbh_msc_t *m) {
    zel_usbh_free_urb(m->host, &m->bulk_in);
    zel_usbh_free_urb(m->host, &m->bulk_out);
    zel_usbh_free_urb(m->host, &m->ctrl);
}

// Streams are not supported: the call ends at once.
void execute_stream_unsupported(void *, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_answer(ZEL_USBH_ERR_FAIL);
}

// ---- Bulk-Only Transport ----

bool is_write(const uint8_t *cdb) { return (cdb[0] & 0x1F) == 0x0A; }

zel_usbh_urb_t *data_urb(zel_usbh_msc_t *m, const zel_scsi_exec_param_t *p) {
    return is_write(p->cdb) ? &m->bulk_out : &m->bulk_in;
}

void end_command(zel_usbh_msc_t *m, intptr_t result) {
    zel_usbh_urb_set_buffer(&m->bulk_in, nullptr, 0);
    zel_usbh_urb_set_buffer(&m->bulk_out, nullptr, 0);
    m->caller = nullptr;
    zel_answer(result);
}

// A bulk transfer of the command, with the command's timeout.
bool submit(zel_usbh_msc_t *m, zel_usbh_urb_t *urb, void *buffer, uint32_t length) {
    zel_usbh_urb_set_buffer(urb, buffer, length);
    urb->urb->timeout = m->timeout_ms;
    return zel_usbh_submit_urb(m->host, urb) == 0;
}

void read_status(zel_usbh_msc_t *m, zel_usbh_msc_state_t state) {
    m->state = state;
    if (!submit(m, &m->bulk_in, &m->csw, sizeof m->csw)) end_command(m, ZEL_USBH_ERR_FAIL);
}

void status_phase(zel_usbh_msc_t *m) { read_status(m, ZEL_MSC_STATUS); }

uint8_t endpoint_of(const zel_usbh_urb_t *urb, bool in) {
    const uint8_t ep = zel_pipe_ep(zel_usbh_urb_get_pipe(urb));
    return in ? (uint8_t)(ep | ZEL_USB_DIR_IN) : ep;
}

// CLEAR_FEATURE(ENDPOINT_HALT) on one of the bulk endpoints; the command
// ends at once when the request cannot go out.
void clear_halt(zel_usbh_msc_t *m, zel_usbh_msc_state_t state, bool in) {
    m->state = state;
    const uint8_t ep = endpoint_of(in ? &m->bulk_in : &m->bulk_out, in);
    const zel_usbh_setup_t setup = {0x02, ZEL_USB_REQ_CLEAR_FEATURE, ZEL_USB_ENDPOINT_HALT, ep, 0};
    if (zel_usbh_control_msg_own(m->host, m->dev, &m->ctrl, &setup, nullptr) != 0) end_command(m, ZEL_USBH_ERR_FAIL);
}

// Reset recovery: the device drops whatever exchange it was in, both bulk
// endpoints start clear, and the command fails.
void reset_recovery(zel_usbh_msc_t *m) {
    m->state = ZEL_MSC_RESET;
    const zel_usbh_setup_t setup = {0x21, ZEL_MSC_REQ_RESET, 0, m->ifs->number, 0};
    if (zel_usbh_control_msg_own(m->host, m->dev, &m->ctrl, &setup, nullptr) != 0) end_command(m, ZEL_USBH_ERR_FAIL);
}

void start_command(zel_usbh_msc_t *m, const zel_scsi_exec_param_t *p) {
    const uint32_t cdb_len = zel_scsi_get_command_len(p->cdb);
    // One command at a time: the transport state is the context's.
    if (m->gone || m->caller || cdb_len == 0 || cdb_len > ZEL_SCSI_CDB_MAX || (p->size && !p->buffer)) {
        zel_answer(ZEL_USBH_ERR_FAIL);
        return;
    }
    m->caller = zel_eda_get_cur();
    m->state = ZEL_MSC_COMMAND;
    m->cbw = {};
    zel_put_unaligned_le32(ZEL_MSC_CBW_SIGNATURE, &m->cbw.dCBWSignature);
    zel_put_unaligned_le32(ZEL_MSC_CBW_TAG, &m->cbw.dCBWTag);
    zel_put_unaligned_le32(p->size, &m->cbw.dCBWDataTransferLength);
    m->cbw.bmCBWFlags = is_write(p->cdb) ? ZEL_MSC_CBW_DATA_OUT : ZEL_MSC_CBW_DATA_IN;
    m->cbw.bCBWLUN = 0;
    m->cbw.bCBWCBLength = (uint8_t)cdb_len;
    memcpy(m->cbw.CBWCB, p->cdb, cdb_len);
    m->expected = m->residue = p->size;
    if (!submit(m, &m->bulk_out, &m->cbw, sizeof m->cbw)) end_command(m, ZEL_USBH_ERR_FAIL);
}

void on_data(zel_usbh_msc_t *m, const zel_scsi_exec_param_t *p, zel_usbh_hcd_urb_t *urb) {
    zel_usbh_urb_t *data = data_urb(m, p);
    if (urb->status != 0) {
        clear_halt(m, ZEL_MSC_CLEARING, data == &m->bulk_in);
        return;
    }
    const uint32_t actual = urb->actual_length < m->residue ? urb->actual_length : m->residue;
    m->residue -= actual;
    const uint32_t mps = zel_pipe_mps(zel_usbh_urb_get_pipe(data));
    if (m->residue == 0 || actual == 0 || mps == 0 || actual % mps != 0) {
        status_phase(m);
        return;
    }
    // Short on a packet boundary: the rest of the buffer follows.
    const uint32_t moved = m->expected - m->residue;
    if (!submit(m, data, static_cast<uint8_t *>(p->buffer) + moved, m->residue)) end_command(m, ZEL_USBH_ERR_FAIL);
}

// A CSW that arrived: valid and passed, failed, or not to be trusted.
void on_status(zel_usbh_msc_t *m, const zel_usbh_hcd_urb_t *urb) {
    const zel_msc_csw_t &csw = m->csw;
    const bool valid =
        urb->actual_length == sizeof csw && zel_get_unaligned_le32(&csw.dCSWSignature) == ZEL_MSC_CSW_SIGNATURE &&
        zel_get_unaligned_le32(&csw.dCSWTag) == ZEL_MSC_CBW_TAG && csw.bCSWStatus < ZEL_MSC_CSW_PHASE_ERROR;
    if (!valid)
        reset_recovery(m);
    else if (csw.bCSWStatus != ZEL_MSC_CSW_PASSED)
        end_command(m, ZEL_USBH_ERR_FAIL);
    else
        end_command(m, (intptr_t)(m->expected - m->residue));
}

void on_transfer(zel_usbh_msc_t *m, const zel_scsi_exec_param_t *p, zel_usbh_hcd_urb_t *urb) {
    const bool ours = (zel_usbh_urb_is_alloced(&m->bulk_in) && urb == m->bulk_in.urb) ||
                      (zel_usbh_urb_is_alloced(&m->bulk_out) && urb == m->bulk_out.urb) ||
                      (zel_usbh_urb_is_alloced(&m->ctrl) && urb == m->ctrl.urb);
    if (!ours) return;
    const bool failed = urb->status != 0;
    const auto state = static_cast<zel_usbh_msc_state_t>(m->state);
    if (failed && urb->status == ZEL_USBH_ERR_TIMEOUT && state <= ZEL_MSC_STATUS_AGAIN) {
        reset_recovery(m);
        return;
    }
    switch (state) {
    case ZEL_MSC_COMMAND:
        if (failed)
            reset_recovery(m);
        else if (m->residue != 0 && p->size > 0) {
            m->state = ZEL_MSC_DATA;
            if (!submit(m, data_urb(m, p), p->buffer, p->size)) end_command(m, ZEL_USBH_ERR_FAIL);
        } else {
            status_phase(m);
        }
        break;
    case ZEL_MSC_DATA: on_data(m, p, urb); break;
    case ZEL_MSC_CLEARING:
        if (failed)
            reset_recovery(m);
        else
            status_phase(m);
        break;
    case ZEL_MSC_STATUS:
        if (failed)
            clear_halt(m, ZEL_MSC_STATUS_CLEARING, true);
        else
            on_status(m, urb);
        break;
    case ZEL_MSC_STATUS_CLEARING:
        if (failed)
            reset_recovery(m);
        else
            read_status(m, ZEL_MSC_STATUS_AGAIN);
        break;
    case ZEL_MSC_STATUS_AGAIN:
        if (failed)
            reset_recovery(m);
        else
            on_status(m, urb);
        break;
    case ZEL_MSC_RESET:
        if (failed)
            end_command(m, ZEL_USBH_ERR_FAIL);
        else
            clear_halt(m, ZEL_MSC_RESET_CLEAR_IN, true);
        break;
    case ZEL_MSC_RESET_CLEAR_IN:
        if (failed)
            end_command(m, ZEL_USBH_ERR_FAIL);
        else
            clear_halt(m, ZEL_MSC_RESET_CLEAR_OUT, false);
        break;
    case ZEL_MSC_RESET_CLEAR_OUT: end_command(m, ZEL_USBH_ERR_FAIL); break;
    }
}

}  // namespace

extern "C" {

const zel_scsi_drv_t zel_usbh_msc_scsi_drv = {
    .init = zel_op_succeed,
    .fini = zel_op_succeed,
    .execute = zel_usbh_msc_scsi_execute,
    .execute_stream = execute_stream_unsupported,
    .buffer = nullptr,
};

const zel_usbh_class_drv_t zel_usbh_msc_class = {
    .name = "msc",
    .id_count = sizeof kMscIds / sizeof kMscIds[0],
    .ids = kMscIds,
    .probe = zel_usbh_msc_probe,
    .disconnect = zel_usbh_msc_disconnect,
};

void *zel_usbh_msc_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry) {
    const zel_usbh_ifs_alt_t *alt = zel_usbh_parser_alt(entry);
    if (alt->ep_count != 2 || !alt->first_ep) return nullptr;
    auto *m = static_cast<zel_usbh_msc_t *>(zel_heap_calloc(1, sizeof(zel_usbh_msc_t)));
    if (!m) {
        g_refused++;
        return nullptr;
    }
    m->host = host;
    m->dev = dev;
    m->ifs = entry->ifs;
    const uint8_t *start = reinterpret_cast<const uint8_t *>(alt->desc);
    const zel_usb_endpoint_desc_t *ep = alt->first_ep;
    bool ok = true;
    for (int i = 0; i < 2 && ok; i++) {
        const uint32_t offset = ep ? (uint32_t)(reinterpret_cast<const uint8_t *>(ep) - start) : 0;
        ok = ep && offset + sizeof(zel_usb_endpoint_desc_t) <= alt->total_length && is_bulk_ep(ep);
        if (!ok) break;
        zel_usbh_urb_t *handle = (ep->bEndpointAddress & ZEL_USB_DIR_IN) ? &m->bulk_in : &m->bulk_out;
        if (zel_usbh_urb_is_alloced(handle)) {
            ok = false;  // two endpoints of one direction
            break;
        }
        zel_usbh_urb_prepare(handle, dev, ep);
        ok = zel_usbh_alloc_urb(host, dev, handle) == 0;
        if (!ok) g_refused++;  // no memory or no host thread for the URB
        if (ok && i == 0) ep = zel_usbh_next_ep_desc(ep, alt->total_length - offset);
    }
    if (!ok) {
        free_urbs(m);
        zel_heap_free(m);
        return nullptr;
    }
    m->timeout_ms = ZEL_MSC_TIMEOUT_MS;
    m->scsi.drv = &zel_usbh_msc_scsi_drv;
    m->agent.handler.plain = zel_usbh_msc_evthandler;
    m->agent.on_terminate = zel_usbh_msc_free;
    (void)zel_eda_start(&m->agent, -1, 0);  // fails only without event nodes
    return m;
}

uint32_t zel_usbh_msc_refused(void) { return g_refused; }

void zel_usbh_msc_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_usbh_msc_t *m = of_agent(agent);
    if (evt == ZEL_EVT_INIT || evt == ZEL_EVT_SYNC) {
        if (evt == ZEL_EVT_INIT && zel_eda_sync_decrease(&m->dev->mutex, -1) != 0) return;  // 262 follows
        const zel_usbh_setup_t setup = {0xA1, ZEL_MSC_REQ_GET_MAX_LUN, 0, m->ifs->number, 1};
        zel_usbh_urb_set_buffer(&m->dev->ctrl, &m->max_lun, 1);
        if (zel_usbh_control_msg(m->host, m->dev, &setup) != 0) {
            // The device's other interfaces may still start: the mutex and
            // the control URB are let go before the interface is removed.
            zel_usbh_urb_take_buffer(&m->dev->ctrl);
            zel_eda_sync_release(&m->dev->mutex, nullptr);  // held here
            zel_usbh_remove_interface(m->host, m->dev, m->ifs);
        }
    } else if (evt == ZEL_EVT_MSG) {
        auto *urb = static_cast<zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg());
        if (!(m->dev->speed & ZEL_USBH_DEV_CTRL_URB) || urb != m->dev->ctrl.urb) return;
        zel_usbh_urb_take_buffer(&m->dev->ctrl);
        zel_eda_sync_release(&m->dev->mutex, nullptr);  // held here
        m->handed_over = 1;
        on_msc_disk_connect(&m->scsi);
    }
}

void zel_usbh_msc_disconnect(zel_usbh_t *, zel_usbh_dev_t *, void *param) {
    auto *m = static_cast<zel_usbh_msc_t *>(param);
    if (!m) return;
    // The application hears of the disk's end only when it had the disk.
    if (m->handed_over) on_msc_disk_disconnect(&m->scsi);
    free_urbs(m);
    m->gone = 1;
    if (m->caller) (void)zel_eda_wake(m->caller, ZEL_EVT_WAKE);  // the command in flight ends with -7
    (void)zel_eda_fini(&m->agent);                               // cannot fail
}

void zel_usbh_msc_free(zel_eda_t *agent) {
    zel_usbh_msc_t *m = of_agent(agent);
    if (m->handed_over || m->caller) {
        m->next_retired = g_retired;
        g_retired = m;
        return;
    }
    zel_heap_free(m);
}

void zel_usbh_msc_scsi_execute(void *locals, zel_evt_t evt) {
    zel_usbh_msc_t *m = of_scsi(zel_target<zel_scsi_t>(locals));
    const auto *p = static_cast<const zel_scsi_exec_param_t *>(locals);
    if (evt == ZEL_EVT_INIT) {
        start_command(m, p);
    } else if (m->gone) {
        end_command(m, ZEL_USBH_ERR_FAIL);
    } else if (evt == ZEL_EVT_MSG) {
        on_transfer(m, p, static_cast<zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg()));
    }
}

}  // extern "C"
