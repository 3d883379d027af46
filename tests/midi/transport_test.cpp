// The transport's behaviour as scenarios on the simulated world: what the
// driver offers, what devices send and what the host does, and the
// transcript of what that shows: the progress windows when asked for, then
// in order what the listeners heard, what left output 0 and what the host
// was told, then the boxes. After every scenario nothing was dropped on the
// way in, and every buffer is back in the pool or with its input.
#include <cstring>
#include <deque>
#include <functional>

#include "tests/midi/transport_fixture.h"

namespace {

using Lines = std::vector<std::string>;
constexpr int Global = -1;
constexpr std::uint32_t NotReady = platform::MidiErrNotReady, NoMem = platform::MmSysErrNoMem;
constexpr std::uint32_t Busy = platform::MmSysErrAllocated;
constexpr std::uint32_t NoDriver = platform::MmSysErrNoDriver, Error = platform::MmSysErrError;
const Bytes Any = {PatternEnd};
const Bytes Model41 = {0xF0, 0x41, PatternCapture, PatternEnd};
const Bytes Reply41 = {0xF0, 0x41, 0x10, 0xF7};
const auto Owner = reinterpret_cast<platform::WindowHandle>(0x4711);

// One scenario's world, and the clock it starts the transport with.
struct Rig : TransportWorld, platform::Clock {
  Rig() {
    platform::Install({World::Module(), &world.midi, this, &world.dialogs, &world.progress});
  }
  ~Rig() override { MidiTransportShutdown(); }  // while this clock is still whole
  void Start() { shown.push_back("start " + std::to_string(MidiTransportInit(Owner))); }
  SysExListener* Listen(std::string name, int input, const Bytes& pattern,
                        int result = ListenerKeep) {
    Ear& ear = ears.emplace_back(Ear{std::move(name), &shown, result});
    MidiPort* port = input == Global ? nullptr : In(static_cast<std::uint32_t>(input));
    return AddListener(port, Hear, &ear, patterns.emplace_back(pattern).data());
  }
  void Receive(std::uint32_t input, const Bytes& bytes) {
    world.midi.SendToInput(input, bytes, 0);
    Wait(200);
  }
  // Hands a buffer of input 0 to the transport as a driver gives it back.
  MidiBuffer* Hand(std::uint32_t message, const Bytes& bytes) {
    MidiBuffer* buffer = BufferGet();
    buffer->header.dwUser = reinterpret_cast<std::uintptr_t>(In(0));
    std::memcpy(buffer->data, bytes.data(), bytes.size());
    buffer->header.dwBytesRecorded = static_cast<std::uint32_t>(bytes.size());
    InputCallback(nullptr, message, 0, reinterpret_cast<std::uintptr_t>(&buffer->header), 0);
    EXPECT_TRUE(WaitDispatcherIdle(10000));
    return buffer;
  }
  // Sends `length` bytes to output 0, and notes when each chunk left and
  // when the call returned what.
  void Send(std::int32_t length) {
    const std::size_t before = world.midi.Sent(0).size();
    Bytes message(static_cast<std::size_t>(std::max(length, 0)));
    for (std::size_t i = 0; i < message.size(); ++i)
      message[i] = static_cast<std::uint8_t>(i % 0x80);
    const std::uint32_t result = SendSysEx(Out(0), message.data(), length);
    Bytes sent;
    const auto chunks = world.midi.Sent(0);
    for (const sim::SentChunk& c : std::span(chunks).subspan(before)) {
      shown.push_back(std::to_string(c.sentAt) + " out " + std::to_string(c.bytes.size()));
      sent.insert(sent.end(), c.bytes.begin(), c.bytes.end());
    }
    EXPECT_EQ(sent,
              Bytes(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(sent.size())));
    shown.push_back(std::to_string(world.clock.TickCount()) + " sent " + std::to_string(result));
  }
  void NotePorts() {
    std::string line = "ports";
    for (MidiPort* port = PortList; port != nullptr; port = port->next) {
      line += " " + std::string(PortName(port)) + ((port->flags & PortEnabled) != 0 ? "+" : "-");
    }
    shown.push_back(line);
    for (const UnopenedPort& p : UnopenedPorts())
      shown.push_back("left out " + std::string(p.name) + ": " + std::to_string(p.error));
  }
  void NoteCalls() {
    const char* names[] = {"InOpen",       "InPrepare",  "InUnprepare", "InAddBuffer", "InStart",
                           "InStop",       "InReset",    "InClose",     "OutOpen",     "OutPrepare",
                           "OutUnprepare", "OutLongMsg", "OutReset",    "OutClose"};
    for (const sim::DriverCallRecord& c : world.midi.Calls())
      shown.push_back(names[static_cast<int>(c.call)] + std::to_string(c.port));
  }
  // Which ports are lost, and how many ReopenLostPorts brought back.
  void Reopen() {
    std::string line = "lost";
    for (MidiPort* port = PortList; port != nullptr; port = port->next) {
      if (PortIsLost(port)) line += " " + std::string(PortName(port));
    }
    shown.push_back(line + ", reopened " + std::to_string(ReopenLostPorts()));
  }
  void Sleep(std::uint32_t ms) override { world.clock.Sleep(ms); }
  std::uint32_t TickCount() override { return world.clock.TickCount(); }
  void BeginFineResolution() override { shown.push_back("timer 1 ms"); }
  void EndFineResolution() override { shown.push_back("timer default"); }

  bool windows = false;  // whether the transcript shows the progress windows
  std::size_t held = 0;  // buffers the inputs hold at the end; 0: InputBuffersPerPort each
  std::deque<Ear> ears;
  std::deque<Bytes> patterns;
  Lines shown;
};

struct Scenario {
  const char* name;
  std::function<void(Rig&)> script;
  Lines transcript;
};

// With `up`, the scenario begins with two inputs and an output opened.
void Play(const Scenario& s, bool up) {
  SCOPED_TRACE(s.name);
  Rig rig;
  if (up) {
    rig.AddPorts(2, 1);
    rig.Init();
    rig.shown.clear();
  }
  s.script(rig);
  rig.Wait(1000);  // the wires drain
  Lines transcript;
  for (const progress::ProgressEvent& e : rig.world.progress.Events()) {
    const char* kinds[] = {"open ", "text '", "position ", "close"};
    std::string line = std::to_string(e.at) + " window " + kinds[static_cast<int>(e.kind)];
    for (const std::string& text : e.lines) line += text + (e.owner == Owner ? ", owned" : "");
    if (e.kind == progress::ProgressEvent::Kind::Text)
      line += e.text + "' " + std::to_string(e.holdMs);
    if (rig.windows) transcript.push_back(line);
  }
  transcript.insert(transcript.end(), rig.shown.begin(), rig.shown.end());
  for (const sim::BoxRecord& b : rig.world.dialogs.Boxes()) {
    transcript.push_back("box " + b.caption + ": " + b.text +
                         (b.owner != nullptr ? ", owned" : ""));
  }
  EXPECT_EQ(transcript, s.transcript);
  std::size_t held = 0, inputs = 0;
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    if ((port->flags & PortInput) == 0) continue;
    held += rig.world.midi.QueuedInputBuffers(port->device);
    inputs += 1;
    EXPECT_EQ(rig.world.midi.DroppedBytes(port->device), 0u) << "input " << port->device;
  }
  EXPECT_EQ(held, rig.held != 0 ? rig.held : InputBuffersPerPort * inputs);
  EXPECT_EQ(transport_testing::BufferPoolSize() + held, transport_testing::BuffersAllocated());
}

TEST(Transport, InputAndOutput) {
  const Scenario scenarios[] = {
      {"port listeners first, then global ones, most recent first in each",
       [](Rig& r) {
         r.Listen("A", 0, Model41);
         r.Listen("G1", Global, Model41);
         r.Listen("B", 0, {0xF0, 0x41, PatternSkip, 0xF7, PatternEnd});  // as long as the message
         r.Listen("G2", Global, Any);
         r.Listen("other port", 1, Any);
         r.Receive(0, Reply41);
       },
       {"B@0", "A@0 10", "G2@0", "G1@0 10"}},
      {"results 1 and 2 end a listener, any other keeps it",
       [](Rig& r) {
         for (int result : {1, 2, 3, 0, 4, -1})
           r.Listen("r" + std::to_string(result), Global, Any, result);
         r.Receive(0, Reply41);
         r.Receive(1, Reply41);
       },
       {"r-1@0", "r4@0", "r0@0", "r3@0", "r2@0", "r1@0", "r-1@1", "r4@1", "r0@1", "r3@1"}},
      {"a message cut into three buffers is matched whole and once",
       [](Rig& r) {
         Bytes far(199, PatternSkip), message(300, 0x22);
         far[0] = message[0] = 0xF0, message[199] = 0x33, message[299] = 0xF7;
         far.insert(far.end(), {PatternCapture, PatternEnd});
         r.Listen("far", 1, far);
         r.Listen("near", 1, {0xF0, PatternSkip, PatternCapture, PatternEnd});
         r.Receive(1, message);
       },
       {"near@1 22", "far@1 33"}},
      {"short messages reach nobody, a status byte drops the SysEx it breaks",
       [](Rig& r) {
         r.Listen("m", 0, Model41);
         r.Listen("any", Global, Any);
         r.Receive(0, {0x90, 0x40, 0x7F, 0x40, 0x00, 0xC0, 0x05, 0xF8, 0xB0, 0x07, 0x64});
         r.Receive(0, {0xF0, 0x41, 0x10, 0x90, 0x40, 0x7F});
         r.Receive(0, {0xF0, 0x41, 0x11, 0xF7});
       },
       {"m@0 11", "any@0"}},
      {"a disabled input feeds nobody, and keeps its buffers",
       [](Rig& r) {
         r.Listen("p", 0, Any);
         r.Listen("g", Global, Any);
         r.In(0)->flags &= ~PortEnabled;
         for (int i = 0; i < 5; ++i) r.Receive(0, Reply41);  // more than it has buffers
         r.Receive(1, Reply41);
       },
       {"g@1"}},
      {"a piece handed back broken drops its message; each buffer goes back to the driver, "
       "but one of a port being closed",
       [](Rig& r) {
         r.Listen("m", 0, Model41);
         r.Hand(platform::MimLongError, {0xF0, 0x41, 0x10});
         r.Hand(platform::MimLongData, {0x11, 0xF7});
         r.Hand(platform::MimLongData, {0xF0, 0x41, 0x12, 0xF7});
         r.In(0)->flags |= PortClosing;
         BufferPut(r.Hand(platform::MimLongData, {0xF0, 0x7E, 0xF7}));  // the test's to give back
         r.held = 2 * InputBuffersPerPort + 3;
       },
       {"m@0 12"}},
      {"chunks of 128 bytes at most, each followed by n / 42 + 20 ms",
       [](Rig& r) {  // the start's progress window stays up until 300
         for (std::int32_t length : {6, 42, 300, -5}) r.Send(length);
       },
       {"300 out 6", "320 sent 0", "320 out 42", "341 sent 0", "341 out 128", "364 out 128",
        "387 out 44", "408 sent 0", "408 sent 0"}},
      {"a refused chunk is tried again after 200 ms; the tenth refusal is shown and returned",
       [](Rig& r) {
         r.world.midi.FailLongMsg(0, {NotReady, 1, 3});
         r.world.midi.FailLongMsg(0, {NotReady, 5, 9});
         r.world.midi.FailLongMsg(0, {NoMem, 14, 1});
         r.Send(6);
         r.Send(300);
       },
       {"900 out 6", "920 sent 0", "2720 sent 7",
        "box Fatal Transfer-Error: MIDI-Error 7 during midiOutLongMsg"}},
      {"without a buffer, or once a chunk is refused, the rest stays unsent",
       [](Rig& r) {
         r.world.midi.FailLongMsg(0, {NotReady, 2, 10});
         r.world.midi.FailOutPrepare(0, {NoMem, 3, 1});
         RefuseTransportAllocation = [](TransportRecord) { return true; };
         r.Send(6);
         RefuseTransportAllocation = nullptr;
         r.Send(300);
         r.Send(6);  // its prepare fails
       },
       {"300 sent 7", "300 out 128", "2123 sent 67", "2123 sent 7",
        "box Fatal Transfer-Error: MIDI-Error 67 during midiOutLongMsg"}},
      {"a device that has gone is not shown: NODRIVER is not tried again, ERROR is; the port is lost "
       "until it is opened again",
       [](Rig& r) {
         r.world.midi.FailLongMsg(0, {NoDriver, 1, 1});
         r.world.midi.FailLongMsg(0, {Error, 2, 10});
         r.Send(6);
         r.Reopen();
         r.Send(6);
         r.Reopen();
         r.Send(6);
       },
       {"300 sent 6", "lost Out 0, reopened 1", "2100 sent 1", "lost Out 0, reopened 1", "2100 out 6",
        "2120 sent 0"}},
      {"an interface unplugged: its input's buffers go back to the pool, its ports stay lost until it is "
       "back, then they are opened again and hear",
       [](Rig& r) {
         r.Listen("m", 0, Model41);
         r.world.midi.ApplyWorld({.unplugAfter = 1, .unplugError = true, .replugSeconds = 1}, 0, 0);
         r.Send(6);
         r.Send(6);
         r.Reopen();
         r.Wait(1000);
         r.Reopen();
         r.Receive(0, Reply41);
       },
       {"300 out 6", "320 sent 0", "320 sent 1", "lost In 0 Out 0, reopened 0", "lost In 0 Out 0, reopened 2",
        "m@0 10"}},
  };
  for (const Scenario& s : scenarios) Play(s, true);
}

TEST(Transport, StartAndShutdown) {
  const Scenario scenarios[] = {
      {"ports that cannot open are left out and named, the rest keep their order; an input "
       "buffer the driver refuses goes back to the pool",
       [](Rig& r) {
         r.windows = true;
         r.world.midi.AddInput({.name = "In 0"});
         r.world.midi.AddInput({.name = "In 1", .openError = Busy});
         // Its capabilities cannot be read: it is opened without a name.
         r.world.midi.AddInput({.name = "caps fail", .wMid = 5, .capsError = NoMem});
         r.world.midi.FailInAddBuffer(0, {NoMem, 2, 1});  // In 0 holds one buffer less
         r.held = 2 * InputBuffersPerPort - 1;
         r.world.midi.AddOutput(
             {.name = std::string(32, 'N')});  // no terminator in the driver's record
         r.world.midi.AddOutput({.name = "Out 1", .openError = Busy});
         r.Start();
         r.NotePorts();
       },
       {"0 window open Initializing MIDI, owned", "0 window text 'In 0' 50",
        "50 window text 'In 1' 50", "100 window text '' 0", "100 window text '' 50",
        "150 window text '" + std::string(32, 'N') + "' 50", "200 window text 'Out 1' 50",
        "250 window text '' 0", "300 window close", "timer 1 ms", "start 1",
        "ports In 0+ + " + std::string(32, 'N') + "+", "left out In 1: 4", "left out Out 1: 4"}},
      {"without inputs: a box and nothing else",
       [](Rig& r) {
         r.AddPorts(0, 2);
         r.Start();
       },
       {"start 0", "box MIDI Configuration Error: No MIDI Inputs are found!"}},
      {"without outputs: the same",
       [](Rig& r) {
         r.AddPorts(2, 0);
         r.Start();
       },
       {"start 0", "box MIDI Configuration Error: No MIDI Outputs are found!"}},
      {"without a dispatcher thread no port is opened",
       [](Rig& r) {
         r.windows = true;
         r.AddPorts(2, 2);
         r.world.midi.RecordCalls(true);
         RefuseDispatcherStart = true;
         r.Start();
         MidiTransportShutdown();
         r.NoteCalls();
       },
       {"0 window open Initializing MIDI, owned", "300 window close", "timer 1 ms", "start 0",
        "timer default"}},
      {"an output is enabled if its technology has bit 0, unless its maker is 208 or 219 and "
       "its product has bit 8; inputs always are",
       [](Rig& r) {
         r.world.midi.AddInput({.name = "In", .wMid = 219, .wPid = 0x0100});
         const std::uint16_t outputs[][3] = {{1, 0, 0},        {7, 0, 0},        {0, 0, 0},
                                             {6, 0, 0},        {1, 219, 0x0100}, {7, 208, 0x01FF},
                                             {1, 208, 0x00FF}, {1, 220, 0x0100}};
         for (char name = 'a'; const auto& [technology, mid, pid] : outputs) {
           r.world.midi.AddOutput(
               {.name = {name++}, .wMid = mid, .wPid = pid, .wTechnology = technology});
         }
         r.Init();
         r.NotePorts();
       },
       {"timer 1 ms", "ports In+ a+ b+ c- d- e- f- g+ h+"}},
      {"shutdown stops the dispatcher, closes in list order and keeps every record",
       [](Rig& r) {
         r.AddPorts(2, 2);
         r.Start();
         MidiBuffer* buffer = BufferGet();
         buffer->header.dwBufferLength = buffer->header.dwBytesRecorded = 6;
         ASSERT_EQ(SendBuffer(r.Out(1), buffer), 0u);  // still on the wire at shutdown
         SysExListener* left = r.Listen("left", 1, Any);
         r.world.midi.RecordCalls(true);
         MidiTransportShutdown();
         MidiTransportShutdown();  // finds nothing more to do
         r.NoteCalls();            // no buffer operation: the dispatcher was gone before the resets
         EXPECT_EQ(transport_testing::BufferPoolSize(), transport_testing::BuffersAllocated());
         // A second start in the same process (the command line's tests do
         // this) reuses the records and hears only its own input.
         EXPECT_EQ(r.Listen("again", Global, Any), left)
             << "the record left on a port was recycled";
         r.Init();
         r.Receive(0, {0xF0, 0x01, 0xF7});
       },
       {"timer 1 ms", "start 1", "timer default", "InStop0", "InReset0", "InClose0", "InStop1",
        "InReset1", "InClose1", "OutReset0", "OutClose0", "OutReset1", "OutClose1", "timer 1 ms",
        "again@0"}},
  };
  for (const Scenario& s : scenarios) Play(s, false);
}

// Pieces of one message wait for the dispatcher in the order the driver
// returned them, however late it takes them (here: not at all).
TEST(Transport, ReturnedBuffersQueueInOrder) {
  MidiBuffer buffers[3]{};
  for (int i : {2, 0, 1})
    InputCallback(nullptr, platform::MimLongData, 0,
                  reinterpret_cast<std::uintptr_t>(&buffers[i].header), 0);
  std::vector<platform::MidiHeader*> order;
  for (platform::MidiHeader* h = DispatchQueue; h != nullptr; h = h->lpNext) order.push_back(h);
  DispatchQueue = nullptr;  // the buffers are on the stack
  EXPECT_EQ(order, (std::vector{&buffers[2].header, &buffers[0].header, &buffers[1].header}));
}

}  // namespace
