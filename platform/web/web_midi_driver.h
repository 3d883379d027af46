// The MIDI driver of the page's engine, behind the winmm-shaped seam.
//
// The engine runs in a dedicated Worker, where Web MIDI does not exist: the
// page holds the MIDI access and its ports, and the two speak in messages.
// This driver is the engine's side of them: the ports the page listed, what
// to send handed to an outlet (the engine posts it to the page, which calls
// send()), and what the page's inputs heard handed in through Receive. Like
// the RtMidi driver it maps whole messages onto winmm's buffers:
//  - Ports: the page's list at start is the device list for the driver's
//    life. Capabilities: the name (31 bytes at most, cut where a UTF-8
//    character begins), identifiers 0 (a Web MIDI port has no numeric ids),
//    and every output MOD_MIDIPORT. A port the page could not open answers
//    the open with MMSYSERR_ALLOCATED, as a port held by another program
//    does under winmm.
//  - A port the page reported disconnected (its statechange) answers as
//    Windows 10 answers for an unplugged interface: MMSYSERR_NODRIVER to
//    every send, buffer and open, and its queued input buffers come back
//    empty; the transport then takes it for lost. Once the page reports it
//    connected again, it opens again (the transport reopens lost ports by
//    name before a scan and a flash).
//  - Output: Web MIDI sends whole messages only, so the chunks of a SysEx
//    message longer than one buffer are joined here and leave with the chunk
//    that holds its F7 (every packet of the image fits in one chunk, so each
//    leaves as it is sent). OutLongMsg copies the bytes and reports MOM_DONE
//    through the callback before it returns: the driver is done with the
//    buffer then.
//  - Input: InAddBuffer queues a buffer. Receive puts SysEx into queued
//    buffers, 128 bytes each, handing each back with MIM_LONGDATA; a message
//    that comes in several pieces goes on in the next buffer, and the
//    transport joins the pieces. Short messages and real-time bytes go to
//    the callback as MIM_DATA. SysEx that finds no buffer is dropped and
//    counted, as winmm drops it. Nothing arrives before InStart or after
//    InStop; InReset hands every queued buffer back empty.
//  - No threads: the engine has one. Callbacks come from inside Receive (a
//    message from the page, handled while the engine sleeps) and from inside
//    OutLongMsg; the transport's dispatcher runs inline there.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/input_buffer_queue.h"
#include "platform/midi_driver.h"

namespace web {

// MMSYSERR_BADDEVICEID.
inline constexpr std::uint32_t MmSysErrBadDeviceId = 2;
inline constexpr std::size_t InputBufferBytes = 128;

// A port as the page found it.
struct PagePort {
  std::string name;
  bool opened = true;  // false: the page could not open it
};

// A whole message for output `output` (its index in the page's list).
using MidiOutlet = std::function<void(std::uint32_t output, std::span<const std::uint8_t> message)>;

class WebMidiDriver final : public platform::MidiDriver {
 public:
  WebMidiDriver(std::vector<PagePort> inputs, std::vector<PagePort> outputs, MidiOutlet outlet);
  ~WebMidiDriver() override;
  WebMidiDriver(const WebMidiDriver&) = delete;
  WebMidiDriver& operator=(const WebMidiDriver&) = delete;

  // What input `input` heard in one event: a whole message, or a piece of
  // SysEx. Ignored for an input that is not open and started.
  void Receive(std::uint32_t input, std::span<const std::uint8_t> bytes);
  // The page saw a port go away or come back (its statechange event).
  void SetConnected(bool input, std::uint32_t index, bool connected);
  std::uint64_t DroppedBytes() const { return dropped_; }

  std::uint32_t InGetNumDevs() override;
  std::uint32_t OutGetNumDevs() override;
  std::uint32_t InGetDevCaps(std::uint32_t index, platform::MidiInCaps* caps) override;
  std::uint32_t OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) override;
  std::uint32_t InOpen(platform::MidiHandle* handle, std::uint32_t index,
                       platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t InPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InAddBuffer(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InStart(platform::MidiHandle handle) override;
  std::uint32_t InStop(platform::MidiHandle handle) override;
  std::uint32_t InReset(platform::MidiHandle handle) override;
  std::uint32_t InClose(platform::MidiHandle handle) override;
  std::uint32_t OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                        platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t OutPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutLongMsg(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutReset(platform::MidiHandle handle) override;
  std::uint32_t OutClose(platform::MidiHandle handle) override;

 private:
  struct Port {
    PagePort page;
    bool connected = true;
    bool open = false;
    platform::MidiCallback callback = nullptr;
    std::uintptr_t instance = 0;
  };
  struct InPort : Port {
    platform::InputBufferQueue buffers;
    bool started = false;
    bool inSysEx = false;  // a SysEx message whose F7 has not come yet
  };
  struct OutPort : Port {
    std::vector<std::uint8_t> joining;  // a SysEx message without its F7 yet
  };

  InPort* FindIn(platform::MidiHandle handle);
  OutPort* FindOut(platform::MidiHandle handle);
  void HandBack(InPort& port, platform::MidiHeader* header);

  std::vector<InPort> inputs_;
  std::vector<OutPort> outputs_;
  MidiOutlet outlet_;
  std::uint64_t dropped_ = 0;
};

}  // namespace web
