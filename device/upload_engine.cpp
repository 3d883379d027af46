// The upload engine: probe phase, then every event of the image's track, each
// SysEx event as one packet with flow control by the instrument's status
// replies. Everything the upload needs per packet lives in one context on the
// stack: nothing is allocated while it runs.
#include "device/upload_engine.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/keystream.h"
#include "device/messages.h"
#include "device/upload_packets.h"
#include "image/smf_read.h"
#include "image/track_walker.h"
#include "midi/listeners.h"
#include "midi/sysex_output.h"
#include "platform/services.h"
#include "progress/progress_window.h"
#include "texts/user_texts.h"

namespace device {

using image::CopyBounded;
using image::FindHeaderPacket;
using image::MetaMarker;
using image::StartTrackWalk;
using image::TrackCursor;
using image::TrackEvent;
using image::TrackEventKind;
using midi::ListenerKeep;
using midi::MidiBuffer;
using midi::MidiPort;
using midi::RemoveListener;
using midi::SysExListener;

namespace {

// The probe packet: set once at start-up on the user-interface thread,
// read-only afterwards.
std::vector<std::uint8_t> g_probe;

constexpr std::size_t MarkerTextSize = 512;

constexpr int ProbeRounds = 50;
constexpr std::int32_t ProbeBudgetMs = 100;
constexpr std::uint32_t ProbeStepMs = 50;
constexpr std::int32_t ReplyBudgetMs = 2000;
constexpr std::int32_t ResetReplyBudgetMs = 30000;  // the instrument erases its flash
constexpr std::uint32_t ReplyStepMs = 20;
constexpr int ResyncTries = 8;
constexpr std::int32_t ResyncBudgetMs = 2000;
constexpr std::uint32_t ResyncStepMs = 50;
constexpr std::uint32_t StatusHoldMs = 200;
// An instrument that has not answered for this long, and not to this many
// sends in a row, is most likely gone (cable pulled, power lost); the user is
// asked whether to keep trying. Lost replies come one or two at a time, and
// two of them at the erase packet's 30-s budget alone make a minute; four in
// a row at 7 % lost (the worst a soak of faults has) happen once in about
// 40,000 packets. An instrument that is really gone is still reported after a
// minute, two at the erase packet.
constexpr std::uint32_t SilenceLimitMs = 60000;
constexpr int SilentSendsLimit = 4;
// With nobody to ask, the upload keeps trying for longer: an erased
// instrument gains nothing from an early end, and ten minutes outlast any
// run of lost replies and a cable plugged back in, yet a script whose
// instrument is gone for good still ends (the unattended answer is Cancel).
constexpr std::uint32_t UnattendedSilenceLimitMs = 10 * 60000;
// An instrument that has refused what it got for a minute, eight times, and
// taken no packet at its first attempt meanwhile, is most likely fed
// damaged bytes: an interface or cable that loses or changes bytes fails
// every checksum, and sending again cannot help. The user is asked whether to go on. Eight refusals in a row happen by
// chance once in 10^8 packets at the 10 % of refused attempts the worst
// fault soak has, and a packet refused a few times that then passes never
// comes near a minute. With nobody to ask, the upload gives up within five
// minutes: unlike silence, refusals do not pass by waiting. A refused
// attempt takes at most 30 s (the erase packet's reply budget; a data
// packet's budget and eight unanswered resynchronisation probes take 18 s),
// so the limit is checked at least that often and four and a half minutes
// of refusals always hold eight of them.
constexpr std::uint32_t RefusalLimitMs = 60000;
constexpr int RefusalsLimit = 8;
constexpr std::uint32_t UnattendedRefusalLimitMs = 270000;

enum class Outcome { Accepted, Failed, Stopped };


struct Upload {
  platform::WindowHandle owner = nullptr;
  DetectedDevice* device = nullptr;
  progress::ProgressWindow* window = nullptr;
  StatusReply reply;
  PacketKeystream keys;
  bool errorShown = false;
  bool stopped = false;
  std::uint32_t silentMs = 0;  // reply budgets used up since the last reply
  int silentSends = 0;          // sends in a row without a reply
  int refusals = 0;             // answers that accepted nothing, since a packet went through at once
  std::uint32_t refusedSince = 0;        // when the first of them came
  midi::MidiPort* lostPort = nullptr;    // the device's port that went away, once one has
  char markerText[MarkerTextSize] = {};  // empty until the first marker
  PacketBuffer packet{};
  std::array<std::uint8_t, PlainCapacity> plain{};
  // The message sent last (probes included): what the instrument compares a
  // packet with to tell a retransmission.
  PacketBuffer lastSent{};
  std::size_t lastSentLength = 0;
};

// The device's port that has gone away, once one has: its interface was
// unplugged, or stopped working.
bool ConnectionLost(Upload& u) {
  if (u.lostPort == nullptr && midi::PortIsLost(u.device->outputPort)) u.lostPort = u.device->outputPort;
  if (u.lostPort == nullptr && midi::PortIsLost(u.device->inputPort)) u.lostPort = u.device->inputPort;
  return u.lostPort != nullptr;
}

// A send the driver refused. A lost interface is told once, as the upload
// ends; anything else at once.
void ShowSendFailure(Upload& u) {
  if (ConnectionLost(u)) return;
  platform::Ui().MessageBox(u.owner, texts::SendFailureText, texts::SendFailureCaption,
                            platform::BoxOk);
}

void ShowConnectionLost(const Upload& u) {
  char name[sizeof u.lostPort->caps.in.szPname + 1];
  midi::PortCopyName(u.lostPort, name, sizeof name);
  char text[sizeof texts::ConnectionLostFormat + sizeof name];
  std::snprintf(text, sizeof text, texts::ConnectionLostFormat, name);
  platform::Ui().MessageBox(u.owner, text, texts::ConnectionLostCaption, platform::BoxOk);
}

bool Send(Upload& u, std::span<const std::uint8_t> bytes) {
  u.lastSentLength = std::min(bytes.size(), u.lastSent.size());
  std::copy_n(bytes.begin(), u.lastSentLength, u.lastSent.begin());
  return SendSysEx(u.device->outputPort, bytes.data(), static_cast<std::int32_t>(bytes.size())) == 0;
}

bool Equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// True once the upload must end: the user has asked it to stop (the command
// line's second interrupt; the Windows program has no such request), or the
// device's interface has gone. Asked before every send and every step of a
// wait, so that nothing more is sent after it.
bool Stopping(Upload& u) {
  if (!u.stopped && platform::Ui().StopRequested()) u.stopped = true;
  return u.stopped || ConnectionLost(u);
}

// Polls the reply before each step of `stepMs` until `budgetMs` is used up.
// The reply seen; none (received false) when none came or the upload is
// stopping. A reply that arrived during the last step is still within the
// budget and counts.
StatusReplyFact WaitForReply(Upload& u, std::int32_t budgetMs, std::uint32_t stepMs) {
  do {
    if (const StatusReplyFact fact = u.reply.Read(); fact.received) return fact;
    if (Stopping(u)) return {};
    platform::Time().Sleep(stepMs);
    budgetMs -= static_cast<std::int32_t>(stepMs);
  } while (budgetMs > 0);
  return u.reply.Read();
}

void NoteReply(Upload& u) {
  u.silentMs = 0;
  u.silentSends = 0;
}

// Counts one send without a reply. False when the instrument has been silent
// long enough to ask, and the user did not want to go on waiting.
bool KeepWaitingAfterSilence(Upload& u, std::int32_t budgetMs) {
  u.silentMs += static_cast<std::uint32_t>(budgetMs);
  ++u.silentSends;
  const std::uint32_t limit =
      platform::Ui().Unattended() ? UnattendedSilenceLimitMs : SilenceLimitMs;
  if (u.silentMs >= limit && u.silentSends >= SilentSendsLimit) {
    char text[sizeof texts::SilenceFormat + 16];
    std::snprintf(text, sizeof text, texts::SilenceFormat, u.silentMs / 1000);
    const int answer = platform::Ui().MessageBox(u.owner, text, texts::SilenceCaption,
                                                 platform::BoxRetryCancel);
    if (answer != platform::IdRetry) return false;
    NoteReply(u);  // the next question after as long again
  }
  return true;
}

// Counts one answer that accepted nothing. False when the instrument has
// refused long enough to ask, and the user did not want to go on.
bool KeepTryingAfterRefusal(Upload& u) {
  const std::uint32_t now = platform::Time().TickCount();
  if (u.refusals++ == 0) u.refusedSince = now;
  const auto refusingMs = static_cast<std::uint32_t>(platform::TickDiff(now, u.refusedSince));
  const std::uint32_t limit = platform::Ui().Unattended() ? UnattendedRefusalLimitMs : RefusalLimitMs;
  if (refusingMs < limit || u.refusals < RefusalsLimit) return true;
  char text[sizeof texts::RefusalFormat + 32];
  std::snprintf(text, sizeof text, texts::RefusalFormat, refusingMs / 1000, static_cast<unsigned>(u.refusals));
  const int answer =
      platform::Ui().MessageBox(u.owner, text, texts::RefusalCaption, platform::BoxRetryCancel);
  if (answer != platform::IdRetry) return false;
  u.refusals = 0;  // the next question after as long again
  return true;
}

// Up to eight probe packets until one is answered with code 3. True when the
// instrument is back at the position right after the header.
bool Resynchronise(Upload& u) {
  for (int attempt = 0; attempt < ResyncTries && !Stopping(u); ++attempt) {
    u.reply.Clear();
    if (!Send(u, ProbePacket())) {
      ShowSendFailure(u);
      return false;  // the upload goes on and sends the packet again
    }
    if (const StatusReplyFact reply = WaitForReply(u, ResyncBudgetMs, ResyncStepMs); reply.received) {
      NoteReply(u);
      if (reply.status == StatusInSync) return true;
    }
  }
  return false;
}

// The instrument can tell a packet sent again (the host heard no answer and
// did not move on) only by its bytes: equal to the message it answered last.
// It then turns its keystream back to where it was before that message. Bytes
// equal to the last message when the host meant a new attempt (after an
// answer, a re-scrambled payload of one or two bytes can come out the same)
// or a new packet (two packets in a row identical on the wire) would turn it
// back while the host moves on: every later packet would descramble to
// garbage that still passes its checksum. `resend` is true when the attempt
// repeats one that got no answer, as the instrument expects it to.
bool WouldBeMisread(const Upload& u, std::span<const std::uint8_t> packet, bool newPacket,
                    bool scrambled, bool resend) {
  // The probe's bytes (the header from the seed, as its first send is) are
  // taken as the probe however often they come: the instrument starts them
  // from the seed (emulator/virtual_tarvonic.h says why no other header
  // attempt of the host's comes out as the probe).
  if (Equal(packet, ProbePacket())) return false;
  if (resend || !Equal(packet, {u.lastSent.data(), u.lastSentLength})) return false;
  // A refused packet that is not scrambled can only go out as it is; the
  // instrument takes it afresh, since it did not accept it.
  return newPacket || scrambled;
}

// Brings both sides to a known state before an attempt that would be misread:
// a resynchronisation, as a code-4 answer would have it, after which both
// re-scramble from the saved state. False when that fails or the attempt
// would still be misread (then nothing is sent: the upload fails, for the
// instrument cannot have taken a wrong packet).
bool BringInStep(Upload& u, std::span<std::uint8_t> packet, std::span<const std::uint8_t> plain,
                 bool scrambled) {
  progress::SetProgressText(u.window, StatusHoldMs, texts::ResyncStatus);
  u.errorShown = true;
  if (!Resynchronise(u)) return false;
  u.keys.OnResynchronised();
  if (scrambled) u.keys.BeginAttempt(plain, packet);
  return !WouldBeMisread(u, packet, false, scrambled, false);
}

// Sends one packet until the instrument accepts it. `packet` holds F0 and the
// event's data; header and data packets are re-scrambled on every attempt.
Outcome SendPacket(Upload& u, std::span<std::uint8_t> packet, PacketKind kind,
                   std::uint32_t dataOffset, std::uint32_t trackLength) {
  const bool scrambled = IsScrambled(kind);
  const std::span<const std::uint8_t> plain(u.plain.data(), PayloadLength(packet.size()));
  const bool isReset = packet.size() > PacketCommandAt && packet[PacketCommandAt] == CommandReset;
  const std::int32_t budget = isReset ? ResetReplyBudgetMs : ReplyBudgetMs;
  bool newPacket = true, resend = false;
  for (;; newPacket = false) {
    if (Stopping(u)) return Outcome::Stopped;
    u.reply.Clear();
    progress::SetProgressPosition(u.window, dataOffset, trackLength);
    if (scrambled) u.keys.BeginAttempt(plain, packet);
    if (WouldBeMisread(u, packet, newPacket, scrambled, resend)) {
      if (!BringInStep(u, packet, plain, scrambled)) return u.stopped ? Outcome::Stopped : Outcome::Failed;
      u.reply.Clear();
    }
    if (!Send(u, packet)) {
      ShowSendFailure(u);
      return Outcome::Failed;
    }
    const StatusReplyFact reply = WaitForReply(u, budget, ReplyStepMs);
    resend = !reply.received;
    if (resend) {
      if (u.stopped || u.lostPort != nullptr) return Outcome::Stopped;
      progress::SetProgressText(u.window, StatusHoldMs, texts::RetryStatus);
      u.errorShown = true;
      if (!KeepWaitingAfterSilence(u, budget)) return Outcome::Failed;
      continue;  // the transmit state is unchanged: the same bytes again
    }
    NoteReply(u);
    if (scrambled) u.keys.OnAttemptAnswered();
    switch (reply.status) {
      case StatusAccepted:
        return Outcome::Accepted;
      case StatusError:
        progress::SetProgressText(u.window, StatusHoldMs, texts::ErrorStatus);
        u.errorShown = true;
        break;
      case StatusInSync:
        if (u.errorShown) {
          progress::SetProgressText(u.window, StatusHoldMs, u.markerText);
          u.errorShown = false;
        }
        return Outcome::Accepted;
      case StatusResync: {
        bool inSync = false;
        if (scrambled) {
          progress::SetProgressText(u.window, StatusHoldMs, texts::ResyncStatus);
          inSync = Resynchronise(u);
        }
        u.errorShown = true;
        if (inSync) u.keys.OnResynchronised();
        break;
      }
      default:  // code 2 and every unknown code: the packet again
        break;
    }
    if (!KeepTryingAfterRefusal(u)) return Outcome::Failed;
  }
}

bool ProbePhase(Upload& u) {
  for (int round = 0; round < ProbeRounds; ++round) {
    if (Stopping(u)) return false;
    u.reply.Clear();
    if (!Send(u, ProbePacket())) {
      ShowSendFailure(u);
      return false;
    }
    // Replies and their codes change nothing here: all rounds run.
    WaitForReply(u, ProbeBudgetMs, ProbeStepMs);
  }
  return true;
}

bool WalkTrack(Upload& u, std::span<const std::uint8_t> track) {
  const auto trackLength = static_cast<std::uint32_t>(track.size());
  TrackCursor cursor = StartTrackWalk(track);
  for (;;) {
    const TrackEvent event = NextTrackEvent(cursor);
    switch (event.kind) {
      case TrackEventKind::End:
        return true;
      case TrackEventKind::Invalid:
        return false;  // a forbidden event: everything before it was sent
      case TrackEventKind::Meta:
        if (event.metaType == MetaMarker) {
          CopyBounded(u.markerText, event.data);
          progress::SetProgressText(u.window, StatusHoldMs, u.markerText);
        }
        break;
      case TrackEventKind::SysEx: {
        // CheckUploadable refused such a track before the upload; a caller
        // that did not ask is stopped here rather than sent part of a packet.
        std::span<std::uint8_t> packet;
        if (!BuildPacket(event, u.packet, packet, nullptr)) return false;
        const PacketKind kind = u.keys.OnPacketRead(packet, u.plain);
        const int refusedBefore = u.refusals;
        if (SendPacket(u, packet, kind, event.dataOffset, trackLength) != Outcome::Accepted) {
          return false;
        }
        // Only a packet that went through without a refusal ends a run of
        // them: on a link that damages every packet, one taken after many
        // refusals may well be a damaged one that slipped past the 7-bit
        // checksum.
        if (u.refusals == refusedBefore) u.refusals = 0;
        break;
      }
    }
  }
}

}  // namespace

int OnStatusReply(MidiBuffer*, MidiPort*, void* reply, const std::uint8_t* captures, int count) {
  if (count < 4) return ListenerKeep;  // the pattern always captures four
  static_cast<StatusReply*>(reply)->Publish(captures[1],
                                            static_cast<std::uint16_t>(captures[2] * 128 + captures[3]));
  return ListenerKeep;
}

UploadResult UploadTrack(platform::WindowHandle owner, std::span<const std::uint8_t> track,
                         DetectedDevice* device) {
  Upload u;
  u.owner = owner;
  u.device = device;
  SysExListener* listener =
      AddListener(device->inputPort, OnStatusReply, &u.reply, StatusReplyPattern.data());
  u.window = progress::OpenProgressWindow(platform::Installed().module,
                                          progress::ProgressModeBar | progress::ProgressModeStatus,
                                          owner, texts::FlashingText);
  platform::Ui().UploadRunning(true);
  const bool complete = ProbePhase(u) && WalkTrack(u, track);
  platform::Ui().UploadRunning(false);
  RemoveListener(listener);
  progress::CloseProgressWindow(u.window, 0);
  if (complete) return UploadResult::Complete;
  if (!ConnectionLost(u)) return UploadResult::Failed;
  ShowConnectionLost(u);
  return UploadResult::InterfaceLost;
}

bool PrepareProbePacket(std::span<const std::uint8_t> track) {
  g_probe.clear();
  if (CheckUploadable(track).refused) return false;
  g_probe = FindHeaderPacket(track);
  return !g_probe.empty();
}

std::span<const std::uint8_t> ProbePacket() { return g_probe; }

}  // namespace device
