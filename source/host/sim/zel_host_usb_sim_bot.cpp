// Bulk-Only Transport on the simulated adapter's mass-storage interface: the
// device's side of CBW, data phase and CSW, with the SCSI unit behind it.
//
// The unit runs with the device's lock released (phase EXECUTING): it may
// take as long as a disk does, and an unplug or a Bulk-Only reset meanwhile
// makes its result vanish, as a real device's would.
#include <string.h>

#include "zel_host_usb_sim_internal.h"
#include "zel_usb_wire.h"

namespace zel_sim {
namespace {

constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr uint8_t kCbwFlagIn = 0x80;
constexpr uint8_t kReqBotReset = 0xFF;
constexpr uint8_t kReqGetMaxLun = 0xFE;

enum : uint8_t { CSW_PASSED = 0, CSW_FAILED = 1, CSW_PHASE_ERROR = 2 };

bool opcode_reads(uint8_t op) { return op == 0x08 || op == 0x28 || op == 0xA8 || op == 0x88; }
bool opcode_writes(uint8_t op) { return op == 0x0A || op == 0x2A || op == 0xAA || op == 0x8A; }

void to_status(Device &d, uint8_t status, uint32_t residue) {
    d.bot.status = status;
    d.bot.residue = residue;
    d.bot.phase = BotPhase::STATUS;
    d.changed.notify_all();
}

void halt(Device &d, uint8_t endpoint) { d.halted |= halt_bit(endpoint); }

// Runs the command in the CBW on `size` bytes of the data buffer, the lock
// released meanwhile. False when the transport was reset or the device left
// in between: the result is gone.
bool run_command(Lock &lock, Device &d, uint32_t size, int *result) {
    Bot &b = d.bot;
    b.phase = BotPhase::EXECUTING;
    const uint32_t epoch = b.epoch;
    const uint32_t plug = d.plug_epoch;
    const zel_host_usb_sim_scsi_t unit = d.config.scsi;
    uint8_t cdb[16];
    memcpy(cdb, b.cdb, sizeof cdb);
    const uint8_t cdb_length = b.cdb_length;
    const bool data_in = b.data_in;
    std::vector<uint8_t> data = std::move(b.data);
    lock.unlock();
    const int r = unit.execute ? unit.execute(unit.unit, cdb, cdb_length, data.data(), size, data_in) : -1;
    lock.lock();
    if (b.epoch != epoch || d.plug_epoch != plug || !d.plugged) return false;
    b.data = std::move(data);
    *result = r;
    return true;
}

// A CBW arrived (phase COMMAND).
int take_cbw(Lock &lock, Open &o, const uint8_t *data, uint32_t length) {
    Device &d = *o.dev;
    Bot &b = d.bot;
    zel_msc_cbw_t cbw{};
    if (length == sizeof cbw) memcpy(&cbw, data, sizeof cbw);
    if (length != sizeof cbw || cbw.dCBWSignature != kCbwSignature || cbw.bCBWCBLength == 0 || cbw.bCBWCBLength > 16 ||
        cbw.bCBWLUN > d.config.max_lun || (cbw.bmCBWFlags & 0x7F) != 0) {
        b.phase = BotPhase::NEEDS_RESET;
        halt(d, d.bot_in);
        halt(d, d.bot_out);
        d.changed.notify_all();
        return (int)length;
    }
    d.commands++;
    b.tag = cbw.dCBWTag;
    b.expected = cbw.dCBWDataTransferLength;
    b.data_in = (cbw.bmCBWFlags & kCbwFlagIn) != 0;
    memset(b.cdb, 0, sizeof b.cdb);
    memcpy(b.cdb, cbw.CBWCB, cbw.bCBWCBLength);
    b.cdb_length = cbw.bCBWCBLength;
    b.offset = 0;
    b.data_length = 0;

    const uint8_t op = b.cdb[0];
    const bool contradicts = b.expected > 0 && (b.data_in ? opcode_writes(op) : opcode_reads(op));
    if (contradicts || b.expected > kBotDataMax) {
        // The device cannot honour the data phase: it stalls it and owns up
        // in the CSW.
        halt(d, b.data_in ? d.bot_in : d.bot_out);
        to_status(d, CSW_PHASE_ERROR, b.expected);
        return (int)length;
    }
    if (!b.data_in && b.expected > 0) {
        b.data.assign(b.expected, 0);
        b.phase = BotPhase::DATA_OUT;
        d.changed.notify_all();
        bot_halt_changed(d);
        return (int)length;
    }
    b.data.assign(b.expected, 0);
    int r = 0;
    if (!run_command(lock, d, b.expected, &r)) return alive(o) ? (int)length : ZEL_HOST_USB_ENODEV;
    if (b.expected == 0) {
        to_status(d, r < 0 ? CSW_FAILED : CSW_PASSED, 0);
        return (int)length;
    }
    b.data_length = r < 0 ? 0 : ((uint32_t)r < b.expected ? (uint32_t)r : b.expected);
    if (b.data_length == 0) {
        halt(d, d.bot_in);  // no data to give: the host learns it from the stall
        to_status(d, r < 0 ? CSW_FAILED : CSW_PASSED, b.expected);
        return (int)length;
    }
    b.status = r < 0 ? CSW_FAILED : CSW_PASSED;
    b.phase = BotPhase::DATA_IN;
    d.changed.notify_all();
    bot_halt_changed(d);
    return (int)length;
}

// Data from the host (phase DATA_OUT). A short packet ends the phase early.
int take_data(Lock &lock, Open &o, const uint8_t *data, uint32_t length) {
    Device &d = *o.dev;
    Bot &b = d.bot;
    const uint32_t room = b.expected - b.offset;
    const uint32_t n = length < room ? length : room;
    if (n) memcpy(b.data.data() + b.offset, data, n);
    b.offset += n;
    if (b.offset < b.expected && n > 0 && n % d.bulk_packet == 0) return (int)n;
    int r = 0;
    if (!run_command(lock, d, b.offset, &r)) return alive(o) ? (int)n : ZEL_HOST_USB_ENODEV;
    const uint32_t taken = r < 0 ? 0 : ((uint32_t)r < b.offset ? (uint32_t)r : b.offset);
    to_status(d, r < 0 ? CSW_FAILED : CSW_PASSED, b.expected - taken);
    return (int)n;
}

// Data for the host (phase DATA_IN).
int give_data(Device &d, uint8_t *data, uint32_t length) {
    Bot &b = d.bot;
    const uint32_t left = b.data_length - b.offset;
    const uint32_t want = length < left ? length : left;
    const uint32_t n = take_short(d, d.bot_in, want);
    if (n < want) b.data_length = b.offset + n;  // a short packet ends the phase
    memcpy(data, b.data.data() + b.offset, n);
    b.offset += n;
    if (b.offset == b.data_length) {
        // Less than the host expects, ending on a whole packet: only a stall
        // tells the host that no more comes.
        if (b.data_length < b.expected && b.data_length % d.bulk_packet == 0) halt(d, d.bot_in);
        to_status(d, b.status, b.expected - b.data_length);
    }
    return (int)n;
}

int give_status(Device &d, uint8_t *data, uint32_t length) {
    if (d.status_stalls > 0) {
        d.status_stalls--;
        halt(d, d.bot_in);
        return ZEL_HOST_USB_EPIPE;
    }
    if (length < sizeof(zel_msc_csw_t)) return ZEL_HOST_USB_EOVERFLOW;
    uint32_t signature = kCswSignature;
    if (d.status_corrupt > 0) {
        d.status_corrupt--;
        signature ^= 0xFF;
    }
    const zel_msc_csw_t csw{signature, d.bot.tag, d.bot.residue, d.bot.status};
    memcpy(data, &csw, sizeof csw);
    d.bot.phase = BotPhase::COMMAND;
    d.bot.data.clear();
    d.changed.notify_all();
    return (int)sizeof csw;
}

// NAKs a transfer on `endpoint` until the transport reaches phase `a` or
// `b` (or needs a reset): 0 to go on, else the transfer's answer.
int nak(Lock &lock, Open &o, uint32_t timeout_ms, uint8_t endpoint, BotPhase a, BotPhase b) {
    Device &d = *o.dev;
    const int r = wait_for(lock, o, timeout_ms,
        [&d, a, b] { return d.bot.phase == a || d.bot.phase == b || d.bot.phase == BotPhase::NEEDS_RESET; });
    if (r) return r;
    return is_halted(d, endpoint) ? ZEL_HOST_USB_EPIPE : 0;
}

}  // namespace

void bot_halt_changed(Device &d) {
    Bot &b = d.bot;
    if (b.phase == BotPhase::DATA_IN && is_halted(d, d.bot_in)) {
        to_status(d, b.status, b.expected - b.offset);
    } else if (b.phase == BotPhase::DATA_OUT && is_halted(d, d.bot_out)) {
        b.data.clear();  // the command never runs
        to_status(d, CSW_FAILED, b.expected - b.offset);
    }
}

void bot_reset(Device &d) {
    d.bot.phase = BotPhase::COMMAND;
    d.bot.epoch++;
    d.bot.data.clear();
    d.changed.notify_all();
}

int bot_out(Lock &lock, Open &o, const uint8_t *data, uint32_t length, uint32_t timeout_ms) {
    Device &d = *o.dev;
    for (;;) {
        switch (d.bot.phase) {
        case BotPhase::NEEDS_RESET: halt(d, d.bot_out); return ZEL_HOST_USB_EPIPE;
        case BotPhase::COMMAND: return take_cbw(lock, o, data, length);
        case BotPhase::DATA_OUT: return take_data(lock, o, data, length);
        default:
            // The device wants to send: it does not take data.
            if (const int r = nak(lock, o, timeout_ms, d.bot_out, BotPhase::COMMAND, BotPhase::DATA_OUT)) return r;
        }
    }
}

int bot_in(Lock &lock, Open &o, uint8_t *data, uint32_t length, uint32_t timeout_ms) {
    Device &d = *o.dev;
    for (;;) {
        switch (d.bot.phase) {
        case BotPhase::NEEDS_RESET: halt(d, d.bot_in); return ZEL_HOST_USB_EPIPE;
        case BotPhase::DATA_IN: return give_data(d, data, length);
        case BotPhase::STATUS:
            if (d.status_held) {
                const int r =
                    wait_for(lock, o, timeout_ms, [&d] { return !d.status_held || d.bot.phase != BotPhase::STATUS; });
                if (r) return r;
                continue;
            }
            return give_status(d, data, length);
        default:
            // Nothing to send yet.
            if (const int r = nak(lock, o, timeout_ms, d.bot_in, BotPhase::DATA_IN, BotPhase::STATUS)) return r;
        }
    }
}

int bot_class_request(Device &d, const zel_host_usb_setup_t &setup, uint8_t *data) {
    if (setup.bmRequestType == 0x21 && setup.bRequest == kReqBotReset && setup.wValue == 0 && setup.wLength == 0) {
        d.bot_resets++;
        bot_reset(d);
        return 0;
    }
    if (setup.bmRequestType == 0xA1 && setup.bRequest == kReqGetMaxLun && setup.wValue == 0 && setup.wLength >= 1) {
        data[0] = d.config.max_lun;
        return 1;
    }
    return ZEL_HOST_USB_EPIPE;
}

}  // namespace zel_sim
