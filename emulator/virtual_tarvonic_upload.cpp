// The boot loader's side of the upload: keystream, checksum, what it writes,
// and the faults of its answers. The rules that keep it in step with the host
// are laid down in virtual_tarvonic.h.
#include <algorithm>

#include "device/messages.h"
#include "emulator/virtual_tarvonic.h"

namespace emulator {

// The instrument speaks the device protocol from the other end.
using namespace device;
namespace {

constexpr std::uint8_t CommandState = 0x11;
constexpr std::uint32_t ReplyBudgetMs = 2000;
constexpr std::uint32_t ResetReplyBudgetMs = 30000;
constexpr std::uint8_t StateReplyId = 0x41;

std::uint8_t Low7(std::uint8_t value) { return static_cast<std::uint8_t>(value & 0x7F); }

bool Equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// The host allows the reset packet 30 s (it erases the flash), every other
// packet 2 s: it looks at the command byte of any message that has one.
bool IsResetCommand(std::span<const std::uint8_t> packet) {
  return packet.size() > PacketCommandAt && packet[PacketCommandAt] == CommandReset;
}

bool IsRefusal(PacketFault fault) {
  return fault == PacketFault::Code1 || fault == PacketFault::Code2 ||
         fault == PacketFault::Code4 || fault == PacketFault::OtherCode;
}

}  // namespace

void VirtualTarvonic::BeBusy(std::uint32_t at, std::uint32_t delayMs) {
  busy_ = true;
  busyUntil_ = at + delayMs;
}

void VirtualTarvonic::Remember(std::span<const std::uint8_t> packet, std::uint16_t before,
                               bool accepted) {
  last_.assign(packet.begin(), packet.end());
  lastBefore_ = before;
  lastAccepted_ = accepted;
}

void VirtualTarvonic::Write(PacketKind kind, std::size_t payload) {
  const auto plain = std::span<const std::uint8_t>(plain_).first(std::min(payload, plain_.size()));
  switch (kind) {
    case PacketKind::Header:
      header_.assign(plain.begin(), plain.end());
      break;
    case PacketKind::Data:
      data_.insert(data_.end(), plain.begin(), plain.end());
      break;
    case PacketKind::Reset:
      data_.clear();
      break;  // the flash is erased
    case PacketKind::Plain:
      break;
  }
}

// Three kinds of noise a line or a busy interface may put in front of an
// answer; none of them may be taken for a status reply.
void VirtualTarvonic::AppendGarbage(Reply& reply) {
  const std::uint32_t n = stats_.garbageSent++;
  switch (n % 3) {
    case 0: {  // a non-commercial SysEx message with some data
      reply.Append(std::array<std::uint8_t, 2>{0xF0, 0x7D});
      std::uint32_t x = n * 2654435761u + 1;
      for (std::uint32_t i = 0; i < 5 + n % 11; ++i) {
        x = x * 1103515245u + 12345u;
        reply.Append(std::array{static_cast<std::uint8_t>((x >> 16) & 0x7F)});
      }
      reply.Append(std::array<std::uint8_t, 1>{0xF7});
      break;
    }
    case 1:  // a status reply of another model
      reply.Append(std::array<std::uint8_t, 11>{0xF0, Mfr[0], Mfr[1], Mfr[2], 0x7F, 0x42, 0x40,
                                                0x00, 0x00, 0x00, 0xF7});
      break;
    default:  // a status reply broken off by the next message's F0
      reply.Append(
          std::array<std::uint8_t, 7>{0xF0, Mfr[0], Mfr[1], Mfr[2], 0x7F, config_.modelId, 0x40});
      break;
  }
}

void VirtualTarvonic::HandleResyncProbe(std::span<const std::uint8_t> packet, std::uint32_t at,
                                        Reply& reply) {
  PacketView view{stats_.packets, packet[PacketCommandAt], PacketKind::Header, packet.size(), true,
                  false};
  if (faults_.Decide(view).fault == PacketFault::RefuseResync) {
    // Not back in step: nothing changes, so that after its last try the
    // host sends the packet from where the code-4 answer left both sides.
    ++stats_.resyncProbesRefused;
    ++stats_.faults[static_cast<std::size_t>(PacketFault::RefuseResync)];
    if (config_.resyncRefusalCode) {
      StatusReply(reply, *config_.resyncRefusalCode);
      reply.delayMs = config_.replyDelayMs;
      ++stats_.repliesSent;
      BeBusy(at, reply.delayMs);
    }
    return;
  }
  keys_.transmit = KeystreamSeed;
  keys_.attempt = keys_.transmit;
  DescramblePayload(keys_.attempt, packet, plain_);
  keys_.saved = keys_.attempt;
  keys_.OnAttemptAnswered();
  Write(PacketKind::Header, PayloadLength(packet.size()));
  Remember(packet, KeystreamSeed, true);
  resyncPending_ = false;
  ++stats_.resyncsAnswered;
  ++stats_.accepted;
  StatusReply(reply, StatusInSync);
  reply.delayMs = config_.replyDelayMs;
  ++stats_.repliesSent;
  BeBusy(at, reply.delayMs);
}

void VirtualTarvonic::HandleUploadPacket(std::span<const std::uint8_t> packet, std::uint32_t at,
                                         Reply& reply) {
  ++stats_.packets;
  const PacketKind kind = ClassifyPacket(packet);
  const std::uint8_t command = packet[PacketCommandAt];
  // Every probe, and the first send of the image's header, is the header
  // packet scrambled from the seed; the first header heard shows its bytes.
  bool probeForm = false;
  if (kind == PacketKind::Header) {
    if (probeForm_.empty()) probeForm_.assign(packet.begin(), packet.end());
    probeForm = Equal(packet, probeForm_);
  }
  if (resyncPending_ && probeForm) {
    HandleResyncProbe(packet, at, reply);
    return;
  }
  // Anything but a probe: the host has given up resynchronising, or never
  // started (code 4 to a packet that is not scrambled).
  resyncPending_ = false;

  // The same bytes again: the host heard no answer and did not move on.
  const bool retransmission = !probeForm && Equal(packet, last_);
  const bool alreadyWritten = retransmission && lastAccepted_;
  if (retransmission) {
    ++stats_.retransmissions;
    keys_.transmit = lastBefore_;
  }
  const std::uint16_t before = keys_.transmit;

  FaultDecision fault =
      faults_.Decide({stats_.packets, command, kind, packet.size(), false, retransmission});
  if (fault.fault == PacketFault::RefuseResync || (alreadyWritten && IsRefusal(fault.fault))) {
    fault.fault = PacketFault::None;
  }

  const bool scrambled = IsScrambled(kind);
  const std::size_t payload = PayloadLength(packet.size());
  bool intact = true;
  if (scrambled) {
    if (probeForm) keys_.transmit = KeystreamSeed;
    keys_.attempt = keys_.transmit;
    DescramblePayload(keys_.attempt, packet, plain_);
    if (probeForm) keys_.saved = keys_.attempt;
    intact = PayloadChecksum(packet) == packet[PacketChecksumAt];
  } else if (kind == PacketKind::Reset) {
    keys_.transmit = KeystreamSeed;
  }

  const bool stateRequest = kind == PacketKind::Plain && command == CommandState;
  std::optional<std::uint8_t> code = kind == PacketKind::Header ? StatusInSync : StatusAccepted;
  if (stateRequest) code = config_.stateStatusCode;
  bool accepted = true;
  if (!intact) {
    // The bytes were damaged on the way: neither side knows for sure where
    // the other's keystream stands now, so ask for a resynchronisation.
    ++stats_.checksumErrors;
    code = StatusResync;
    accepted = false;
  } else if (IsRefusal(fault.fault)) {
    switch (fault.fault) {
      case PacketFault::Code1:
        code = StatusError;
        break;
      case PacketFault::Code2:
        code = StatusAgain;
        break;
      case PacketFault::Code4:
        code = StatusResync;
        break;
      default:
        code = fault.otherCode;
        break;
    }
    accepted = false;
  }
  if (fault.fault != PacketFault::None) ++stats_.faults[static_cast<std::size_t>(fault.fault)];

  if (accepted) {
    if (alreadyWritten) {
      ++stats_.duplicatesIgnored;
    } else {
      Write(kind, payload);
      ++stats_.accepted;
    }
  } else if (scrambled && code == StatusResync) {
    resyncPending_ = true;
    ++stats_.resyncRequests;
  }

  // The answer moves the instrument on by the payload, as its arrival moves
  // the host; an answer lost on the way moves only the instrument, and the
  // retransmission that follows brings it back.
  if (scrambled) keys_.OnAttemptAnswered();
  Remember(packet, before, accepted);

  std::uint32_t delay = config_.replyDelayMs + (IsResetCommand(packet) ? config_.resetDelayMs : 0);
  if (fault.delayMs) delay = *fault.delayMs;
  if (fault.fault == PacketFault::Late) {
    delay = (IsResetCommand(packet) ? ResetReplyBudgetMs : ReplyBudgetMs) + config_.lateMarginMs;
  }
  BeBusy(at, delay);
  reply.delayMs = delay;
  switch (fault.fault) {
    case PacketFault::Drop:
      reply.route = Reply::Route::Lost;
      break;
    case PacketFault::OtherInput:
      reply.route = Reply::Route::Stray;
      break;
    case PacketFault::BothInputs:
      reply.route = Reply::Route::Both;
      break;
    default:
      reply.route = Reply::Route::Normal;
      break;
  }
  if (fault.garbage) AppendGarbage(reply);
  if (code) {
    StatusReply(reply, *code);
    ++stats_.repliesSent;
  }
  if (stateRequest && config_.sendsStateReply) {
    reply.Append(std::array<std::uint8_t, 10>{0xF0, Mfr[0], Mfr[1], Mfr[2], 0x7F, config_.modelId,
                                              StateReplyId, Low7(config_.state[0]),
                                              Low7(config_.state[1]), 0xF7});
  }
}

}  // namespace emulator
