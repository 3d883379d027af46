// The virtual Tarvonic: the instrument's side of the protocol, attached to
// simulated MIDI outputs. It hears what the host sends there as complete SysEx
// messages and answers on its inputs after a delay.
//
// What it answers:
//  - the Identity Request (to all, 7F, or to its device id) with an Identity
//    Reply F0 7E <id> 06 02 00 6D 1C <model> 00 00 00 v0 v1 v2 v3 F7;
//  - one of the model queries (the one it is configured for) with
//    F0 00 6D 1C <model> 0F <queried model> F7;
//  - in its boot loader only: the state request with a status reply and,
//    optionally, a state reply F0 00 6D 1C 7F 41 41 a b F7; the probe and
//    every upload packet with a status reply F0 00 6D 1C 7F 41 40 code hi lo
//    F7, where hi lo count the packets it accepted (14 bits).
//
// The keystream, mirrored from the host's rules (device/keystream.h): the
// instrument keeps the host's transmit state as `keys.transmit`, descrambles
// every header and data packet from there (keys.attempt), and moves on by the
// payload whenever it answers the packet, whatever the code, just as the host
// does when the answer arrives. A reset packet sets it to the seed. A header
// packet that is byte for byte the probe (the first header packet it heard:
// every probe, and every first send of the image's header, is scrambled from
// the seed) starts from the seed; any other header packet is a header sent
// again, re-scrambled by the host from where the instrument is. Answering a
// probe with 3 during a resynchronisation puts it at the saved state: the
// seed moved on by the header's payload, where the host's saved state is too.
//
// How it stays in step through faults:
//  - A packet byte for byte equal to the one it answered last is the host
//    sending it again because no answer arrived. The instrument goes back to
//    where it was before that packet. If it had accepted it, it does not
//    write it again and answers it as accepted (faults of the answer's way
//    back may still hit it); if not, it handles it afresh. A real boot loader
//    has no other way to tell: the protocol carries no sequence number.
//
// What that assumes of the host, and what the host guarantees
// (device/upload_engine.cpp, WouldBeMisread):
//  - Equal bytes are a retransmission. A re-scrambled attempt of a one- or
//    two-byte payload can come out equal to the attempt before it (two
//    keystream states in a row with the same top seven bits), and two
//    packets in a row can be identical on the wire; the host resynchronises
//    before it sends such bytes, and fails the upload when it cannot. Only a
//    refused packet that is not scrambled goes out again unchanged: taken
//    afresh, as it was not accepted, it does no harm.
//  - A header packet equal to the probe is scrambled from the seed. The host
//    does not check it, and need not: its header attempts start every
//    payload length of steps from the seed, and none that it can reach
//    comes out as the probe except from the seed or from a state that
//    differs from it in the top bit alone, which the 7-bit mask drops from
//    every byte, so that both sides stay in step (worked out for every
//    header length up to 129 bytes and for 500, 1,000 and 2,040; a one-byte
//    header would come out as the probe at its 88th attempt, but from its
//    46th the host resynchronises, as above, and starts over at the first).
//  - What arrives while it is busy is the host's resend of the packet it is
//    late with: the host sends anything else only after an answer.
//  - A late answer keeps the instrument busy until it is sent, and what
//    arrives meanwhile (the host's send of the same packet after its budget)
//    is lost. The host takes the late answer for the answer to that send,
//    so both sides have moved on once.
//  - A refused resynchronisation probe changes nothing: after eight of them
//    the host sends the packet again from where the code-4 answer left both.
//  - A wrong checksum (bytes lost or changed on the way) is answered with 4:
//    only a resynchronisation brings both sides back to a known state.
//  - Faults never hit a resynchronisation probe except its refusal, and never
//    turn a retransmission of an accepted packet into a refusal (that would
//    make the host re-scramble a packet already written, which the instrument
//    would then write twice).
//
// What it writes: Firmware() is the plain payload of the last header packet
// it accepted, followed by the plain payloads of the data packets it accepted
// since the last accepted reset packet (which erases the flash), in the order
// it accepted them. For an image with one header packet before its reset
// packet (the release shape), that is the header's plain payload followed by
// the image's data payloads in track order.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "device/keystream.h"
#include "emulator/virtual_faults.h"
#include "platform/sim/sim_midi_driver.h"

namespace emulator {

struct TarvonicConfig {
  std::uint8_t deviceId = 0x00;  // the identity reply's device id: the MIDI channel
  std::uint8_t modelId = 0x41;   // family-code low byte and model-query model
  std::array<char, 4> version = {'1', '.', '9', '0'};
  bool answersIdentity = true;
  // The model byte of the one model query it answers (2A, 2B or 53); none:
  // it answers no model query.
  std::optional<std::uint8_t> answersModelQuery = std::nullopt;
  bool inBootLoader = true;
  // Code of the status reply to a state request; none: no status reply.
  std::optional<std::uint8_t> stateStatusCode = 0;
  bool sendsStateReply = false;
  std::array<std::uint8_t, 2> state = {0x01, 0x00};
  // Inputs its answers come out on, and the stray input of OtherInput and
  // BothInputs faults.
  std::vector<std::uint32_t> replyInputs = {0};
  std::optional<std::uint32_t> strayInput = std::nullopt;
  std::uint32_t replyDelayMs = 2;    // from the packet's last byte to the answer
  std::uint32_t resetDelayMs = 0;    // further time a reset packet (flash erase) takes
  std::uint32_t lateMarginMs = 500;  // a late answer comes this long after the host's budget
  // Whether it hears what arrives while it is busy. A boot loader writing
  // flash does not; one that does answers the host's resend of a packet it
  // is late with, and the host then pairs every answer with the packet after
  // it (see the tests): for showing what the protocol cannot survive.
  bool hearsWhileBusy = false;
  // The code a refused resynchronisation probe is answered with; none: it is
  // not answered at all.
  std::optional<std::uint8_t> resyncRefusalCode = std::nullopt;
  std::size_t flashCapacity = 512 * 1024;  // reserved up front: no allocation per packet
};

struct TarvonicStats {
  std::uint32_t packets = 0;  // upload packets handled (state requests included)
  std::uint32_t accepted = 0;
  std::uint32_t retransmissions = 0;    // the same packet again, after an answer the host missed
  std::uint32_t duplicatesIgnored = 0;  // retransmissions of accepted packets, not written again
  std::uint32_t resyncRequests = 0;     // code-4 answers to header and data packets
  std::uint32_t resyncsAnswered = 0;    // probes answered with 3 while resynchronising
  std::uint32_t resyncProbesRefused = 0;
  std::uint32_t lostWhileBusy = 0;  // messages that arrived while it was busy
  std::uint32_t checksumErrors = 0;
  std::uint32_t garbageSent = 0;
  std::uint32_t repliesSent = 0;                         // status replies sent (lost ones included)
  std::array<std::uint32_t, PacketFaultKinds> faults{};  // by PacketFault
  std::uint32_t Faults(PacketFault fault) const { return faults[static_cast<std::size_t>(fault)]; }
};

class VirtualTarvonic final : public sim::MidiEndpoint {
 public:
  VirtualTarvonic(sim::SimMidiDriver& driver, TarvonicConfig config = {});
  ~VirtualTarvonic() override;
  VirtualTarvonic(const VirtualTarvonic&) = delete;
  VirtualTarvonic& operator=(const VirtualTarvonic&) = delete;

  // Listens on an output; may be called for several outputs.
  void AttachToOutput(std::uint32_t output);

  void SetFaults(const FaultRates& rates);
  void SetFaultScript(FaultScript script);
  // Switches the boot loader on or off (as a power cycle holding the keys would).
  void SetInBootLoader(bool on);

  // The plain firmware as written (see above), and its parts.
  std::vector<std::uint8_t> Firmware() const;
  std::vector<std::uint8_t> HeaderPayload() const;
  std::vector<std::uint8_t> DataArea() const;
  TarvonicStats Stats() const;

  void OnSysEx(std::uint32_t output, std::span<const std::uint8_t> message,
               std::uint32_t at) override;

 private:
  // What one incoming message makes the instrument send, built under the
  // lock and sent after it.
  struct Reply {
    enum class Route { Normal, Stray, Both, Lost };
    std::array<std::uint8_t, 64> bytes{};
    std::size_t length = 0;
    std::uint32_t delayMs = 0;
    Route route = Route::Normal;
    void Append(std::span<const std::uint8_t> part);
  };
  // virtual_tarvonic.cpp: the scan's messages, building and sending answers.
  void HandleScanMessage(std::span<const std::uint8_t> message, Reply& reply);
  void StatusReply(Reply& reply, std::uint8_t code) const;
  void Send(const Reply& reply);
  // virtual_tarvonic_upload.cpp: the boot loader's side of the upload.
  void HandleUploadPacket(std::span<const std::uint8_t> packet, std::uint32_t at, Reply& reply);
  void HandleResyncProbe(std::span<const std::uint8_t> packet, std::uint32_t at, Reply& reply);
  void AppendGarbage(Reply& reply);
  void Write(device::PacketKind kind, std::size_t payload);
  void Remember(std::span<const std::uint8_t> packet, std::uint16_t before, bool accepted);
  void BeBusy(std::uint32_t at, std::uint32_t delayMs);

  sim::SimMidiDriver& driver_;
  const TarvonicConfig config_;

  mutable std::mutex mutex_;  // everything below
  bool inBootLoader_;
  FaultPlan faults_;
  TarvonicStats stats_;
  device::PacketKeystream keys_;  // transmit: where the next packet is descrambled from
  bool resyncPending_ = false;
  std::uint32_t busyUntil_ = 0;
  bool busy_ = false;
  // The probe as heard first: a header packet scrambled from the seed.
  std::vector<std::uint8_t> probeForm_;
  // The packet answered last, where the keystream stood before it, and
  // whether it was accepted: a retransmission is recognised by its bytes.
  std::vector<std::uint8_t> last_;
  std::uint16_t lastBefore_ = 0;
  bool lastAccepted_ = false;
  std::array<std::uint8_t, 2048> plain_{};
  std::vector<std::uint8_t> header_;
  std::vector<std::uint8_t> data_;
};

}  // namespace emulator
