// The input dispatcher and the listeners, end to end on the simulated driver:
// which listeners see a buffer and in what order, how they leave, and where
// the buffers go afterwards.
#include <string>

#include "tests/midi/transport_fixture.h"

namespace {

// A listener's reply record that logs every call.
struct Probe {
  std::string name;
  std::vector<std::string>* order = nullptr;
  int result = ListenerKeep;
  int calls = 0;
  Bytes captures;
  Bytes data;
  MidiPort* port = nullptr;
  platform::MidiHeader* header = nullptr;
};

int Record(MidiBuffer* buffer, MidiPort* port, void* reply, const std::uint8_t* captures, int count) {
  auto* probe = static_cast<Probe*>(reply);
  ++probe->calls;
  if (probe->order != nullptr) probe->order->push_back(probe->name);
  probe->captures.assign(captures, captures + count);
  const auto* data = reinterpret_cast<const std::uint8_t*>(buffer->data);
  probe->data.assign(data, data + buffer->header.dwBytesRecorded);
  probe->port = port;
  probe->header = &buffer->header;
  return probe->result;
}

const std::uint8_t AnyBuffer[] = {PatternEnd};
const std::uint8_t AnySysEx[] = {0xF0, PatternEnd};
const std::uint8_t Model41[] = {0xF0, 0x41, PatternCapture, PatternEnd};

class DispatcherTest : public TransportTest {
 protected:
  void SetUp() override {
    AddPorts(2, 1);
    Init();
  }
  // Bytes that a device sends to input `index`; they have arrived and been
  // dispatched when this returns.
  void Receive(std::uint32_t index, const Bytes& bytes) {
    world.midi.SendToInput(index, bytes, 0);
    Wait(200);
  }
  Probe& NewProbe(const std::string& name) {
    probes_.push_back(std::make_unique<Probe>());
    probes_.back()->name = name;
    probes_.back()->order = &order;
    return *probes_.back();
  }
  std::vector<std::string> order;

 private:
  std::vector<std::unique_ptr<Probe>> probes_;
};

const Bytes Reply41 = {0xF0, 0x41, 0x10, 0xF7};

TEST_F(DispatcherTest, PortListenersComeFirstMostRecentFirstInEachList) {
  Probe& a = NewProbe("A");
  Probe& b = NewProbe("B");
  Probe& g1 = NewProbe("G1");
  Probe& g2 = NewProbe("G2");
  Probe& other = NewProbe("other port");
  ASSERT_NE(AddListener(In(0), Record, &a, Model41), nullptr);
  ASSERT_NE(AddListener(nullptr, Record, &g1, Model41), nullptr);
  ASSERT_NE(AddListener(In(0), Record, &b, AnySysEx), nullptr);
  ASSERT_NE(AddListener(nullptr, Record, &g2, AnyBuffer), nullptr);
  ASSERT_NE(AddListener(In(1), Record, &other, AnyBuffer), nullptr);

  Receive(0, Reply41);
  EXPECT_EQ(order, (std::vector<std::string>{"B", "A", "G2", "G1"}));
  EXPECT_EQ(a.captures, Bytes{0x10});
  EXPECT_EQ(a.data, Reply41);
  // A global listener is told which input the data came in on.
  EXPECT_EQ(g1.port, In(0));
  EXPECT_EQ(other.calls, 0);
}

TEST_F(DispatcherTest, CapturesReachTheCallbackInPatternOrder) {
  const std::uint8_t pattern[] = {0xF0, PatternSkip, PatternCapture, PatternCapture, PatternEnd};
  Probe& probe = NewProbe("p");
  AddListener(In(1), Record, &probe, pattern);
  Receive(1, {0xF0, 0x01, 0x02, 0x03, 0xF7});
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(probe.captures, (Bytes{0x02, 0x03}));
}

TEST_F(DispatcherTest, ResultsOneAndTwoEndTheListenerOthersKeepIt) {
  struct Case {
    int result;
    bool removed;
  };
  for (const Case& c : {Case{1, true}, Case{2, true}, Case{3, false}, Case{0, false}, Case{4, false},
                        Case{-1, false}}) {
    SCOPED_TRACE(c.result);
    Probe& probe = NewProbe("p");
    probe.result = c.result;
    SysExListener* listener = AddListener(nullptr, Record, &probe, Model41);
    ASSERT_NE(listener, nullptr);
    Receive(0, Reply41);
    Receive(1, Reply41);
    EXPECT_EQ(probe.calls, c.removed ? 1 : 2);
    if (c.removed) {
      EXPECT_EQ(listener->callback, nullptr);
      EXPECT_EQ(ListenerFreeList, listener) << "recycled last in, first out";
    }
    RemoveListener(listener);  // harmless after a removal by result
    Receive(0, Reply41);
    EXPECT_EQ(probe.calls, c.removed ? 1 : 2);
  }
}

TEST_F(DispatcherTest, ARemovedListenerIsNeverCalledAgainAndItsRecordIsReused) {
  Probe& first = NewProbe("first");
  Probe& stays = NewProbe("stays");
  SysExListener* listener = AddListener(In(0), Record, &first, AnySysEx);
  AddListener(In(0), Record, &stays, AnySysEx);
  Receive(0, Reply41);
  RemoveListener(listener);
  EXPECT_EQ(listener->callback, nullptr);
  EXPECT_EQ(listener->magic, ListenerMagic) << "a recycled record keeps its magic";
  Receive(0, Reply41);
  Receive(0, Reply41);
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(stays.calls, 3);

  // Last in, first out: the next registration gets the same record.
  Probe& next = NewProbe("next");
  EXPECT_EQ(AddListener(nullptr, Record, &next, AnySysEx), listener);
  Receive(0, Reply41);
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(next.calls, 1);
}

TEST_F(DispatcherTest, RemoveIgnoresNoneWrongMagicAndRecordsNotInTheirList) {
  Probe& probe = NewProbe("p");
  SysExListener* listener = AddListener(nullptr, Record, &probe, AnySysEx);

  SysExListener impostor{};
  impostor.magic = 0x12345678;
  impostor.next = listener;
  RemoveListener(nullptr);
  RemoveListener(&impostor);
  // The right magic, but not in the list it names.
  SysExListener stray{};
  stray.magic = ListenerMagic;
  RemoveListener(&stray);

  EXPECT_EQ(GlobalListeners, listener);
  EXPECT_EQ(listener->next, nullptr);
  Receive(0, Reply41);
  EXPECT_EQ(probe.calls, 1);
}

TEST_F(DispatcherTest, AddListenerRefusesOutputsAndMissingParts) {
  Probe& probe = NewProbe("p");
  EXPECT_EQ(AddListener(Out(0), Record, &probe, AnySysEx), nullptr);
  EXPECT_EQ(AddListener(In(0), nullptr, &probe, AnySysEx), nullptr);
  EXPECT_EQ(AddListener(In(0), Record, &probe, nullptr), nullptr);
  RefuseTransportAllocation = [](TransportRecord kind) { return kind == TransportRecord::Listener; };
  EXPECT_EQ(AddListener(nullptr, Record, &probe, AnySysEx), nullptr);
  EXPECT_EQ(GlobalListeners, nullptr);
  EXPECT_EQ(In(0)->listeners, nullptr);
}

TEST_F(DispatcherTest, ADisabledInputReachesNoListenerButKeepsItsBuffers) {
  Probe& onPort = NewProbe("port");
  Probe& global = NewProbe("global");
  AddListener(In(0), Record, &onPort, AnyBuffer);
  AddListener(nullptr, Record, &global, AnyBuffer);

  In(0)->flags &= ~PortEnabled;
  for (int i = 0; i < 5; ++i) Receive(0, Reply41);  // more messages than buffers
  EXPECT_EQ(onPort.calls, 0);
  EXPECT_EQ(global.calls, 0);
  EXPECT_EQ(world.midi.QueuedInputBuffers(0), 2u);
  EXPECT_EQ(world.midi.DroppedBytes(0), 0u);

  Receive(1, Reply41);
  EXPECT_EQ(global.calls, 1) << "the other input is still served";

  In(0)->flags |= PortEnabled;
  Receive(0, Reply41);
  EXPECT_EQ(onPort.calls, 1);
  EXPECT_EQ(global.calls, 2);
}

TEST_F(DispatcherTest, ABufferOfAClosingPortIsNeitherQueuedAgainNorPooled) {
  Probe& closing = NewProbe("closing");
  Probe& open = NewProbe("open");
  AddListener(In(0), Record, &closing, AnyBuffer);
  AddListener(In(1), Record, &open, AnyBuffer);
  // Its buffer will not come back, so the settle hook must not wait for it;
  // the message on input 1 behind it shows when the dispatcher is past it.
  world.midi.SetSettleTracking(0, false);
  In(0)->flags |= PortClosing;
  const std::size_t pooled = transport_testing::BufferPoolSize();

  world.midi.SendToInput(0, Reply41, 0);
  world.midi.SendToInput(1, Reply41, 5);
  Wait(200);
  EXPECT_EQ(order, (std::vector<std::string>{"closing", "open"}));
  EXPECT_EQ(world.midi.QueuedInputBuffers(0), 1u);
  EXPECT_EQ(world.midi.QueuedInputBuffers(1), 2u);
  EXPECT_EQ(transport_testing::BufferPoolSize(), pooled);
  EXPECT_EQ(transport_testing::DispatchQueueLength(), 0u);
  // The lost buffer is this test's to free; nothing refers to it any more.
  In(0)->flags &= ~PortClosing;
  ASSERT_NE(closing.header, nullptr);
  delete BufferOf(closing.header);
}

TEST_F(DispatcherTest, ShortMessagesReachNoListener) {
  Probe& probe = NewProbe("any");
  AddListener(nullptr, Record, &probe, AnyBuffer);
  Receive(0, {0x90, 0x40, 0x7F, 0x40, 0x00, 0xC0, 0x05, 0xF8, 0xB0, 0x07, 0x64});
  EXPECT_EQ(probe.calls, 0);
  EXPECT_EQ(world.midi.QueuedInputBuffers(0), 2u);
}

TEST_F(DispatcherTest, AMessageCutAcrossBuffersIsMatchedWholeAndOnce) {
  Probe& any = NewProbe("any");
  Probe& far = NewProbe("far");
  AddListener(nullptr, Record, &any, AnyBuffer);
  // Captures byte 199: the pattern reaches into the message's second buffer.
  Bytes pattern(199, PatternSkip);
  pattern.front() = 0xF0;
  pattern.push_back(PatternCapture);
  pattern.push_back(PatternEnd);
  AddListener(nullptr, Record, &far, pattern.data());
  Bytes message(300, 0x22);
  message.front() = 0xF0;
  message[199] = 0x33;
  message.back() = 0xF7;
  Receive(1, message);  // the simulated driver returns 128 + 128 + 44 bytes
  EXPECT_EQ(any.calls, 1);
  EXPECT_EQ(far.calls, 1);
  EXPECT_EQ(far.captures, Bytes{0x33});
  EXPECT_EQ(world.midi.DroppedBytes(1), 0u);
}

TEST_F(DispatcherTest, ABrokenMessageIsDroppedWholeAndTheNextOneMatches) {
  Probe& probe = NewProbe("p");
  AddListener(In(0), Record, &probe, Model41);
  Receive(0, {0xF0, 0x41, 0x10, 0x90, 0x40, 0x7F});  // a note-on cuts the SysEx
  EXPECT_EQ(probe.calls, 0);
  Receive(0, {0xF0, 0x41, 0x11, 0xF7});
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(probe.captures, Bytes{0x11});
}

TEST(InputCallback, QueuesOnlyReturnedBuffers) {
  MidiBuffer buffers[2]{};
  for (std::uint32_t message : {platform::MimOpen, platform::MimClose, platform::MimData,
                                platform::MimError, platform::MomDone}) {
    InputCallback(nullptr, message, 0, reinterpret_cast<std::uintptr_t>(&buffers[0].header), 0);
  }
  EXPECT_EQ(transport_testing::DispatchQueueLength(), 0u);
  InputCallback(nullptr, platform::MimLongData, 0, reinterpret_cast<std::uintptr_t>(&buffers[0].header), 0);
  InputCallback(nullptr, platform::MimLongError, 0, reinterpret_cast<std::uintptr_t>(&buffers[1].header), 0);
  EXPECT_EQ(transport_testing::DispatchQueueLength(), 2u);
  DispatchQueue = nullptr;
}

}  // namespace
