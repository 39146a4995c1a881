// What every system's neighbour check shares: which way a probe asks, its rounds and which
// answer counts.
#include "platform/neighbour_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/probe_rounds.h"

namespace quillnet {
namespace {

using std::chrono::milliseconds;

// Records which way it was asked, and answers nothing.
class RecordingCheck final : public NeighbourCheck {
 public:
  std::vector<std::string> asked;

 protected:
  ProbeResult WhoAnswers(const ProbeRequest&) override {
    asked.push_back("arp");
    return {};
  }
  ProbeResult AnswersEcho(const ProbeRequest&) override {
    asked.push_back("echo");
    return {};
  }
};

TEST(NeighbourCheck, AsksByEchoOrByArpAndNeverByArpWithoutAnInterface) {
  RecordingCheck check;
  ProbeRequest request;
  const ProbeResult none = check.Probe(request);
  EXPECT_EQ(none.outcome, ProbeOutcome::kNotPossible);
  EXPECT_EQ(none.error, 0);
  EXPECT_EQ(none.reason, "no interface to send ARP probes on");
  EXPECT_TRUE(check.asked.empty());

  request.interfaces = {3};
  EXPECT_EQ(check.Probe(request).outcome, ProbeOutcome::kSilent);
  // An echo needs no interface: the routes reach the device behind its router.
  request.echo = true;
  request.interfaces.clear();
  EXPECT_EQ(check.Probe(request).outcome, ProbeOutcome::kSilent);
  EXPECT_EQ(check.asked, (std::vector<std::string>{"arp", "echo"}));
}

TEST(ProbeRounds, OneRoundAtOnceThenOnePerIntervalAndNoneWithoutOne) {
  ProbeRequest request;
  request.duration = std::chrono::hours(1);
  request.interval = std::chrono::hours(1);
  ProbeRounds rounds(request);
  EXPECT_TRUE(rounds.RoundDue());
  EXPECT_FALSE(rounds.RoundDue()) << "the next round is an interval away";
  EXPECT_FALSE(rounds.Over());
  // However far the next round and the end, cancel is looked at within 50 ms.
  EXPECT_GE(rounds.Wait(), milliseconds(0));
  EXPECT_LE(rounds.Wait(), milliseconds(50));

  request.interval = milliseconds(0);
  ProbeRounds once(request);
  EXPECT_TRUE(once.RoundDue());
  EXPECT_FALSE(once.RoundDue());

  request.interval = milliseconds(-5);
  ProbeRounds negative(request);
  EXPECT_TRUE(negative.RoundDue());
  EXPECT_FALSE(negative.RoundDue());

  // A round that is due but left unmade (the helper asks in rounds of its own) does not turn
  // the wait into a spin.
  request.interval = std::chrono::hours(1);
  const ProbeRounds unmade(request);
  EXPECT_GT(unmade.Wait(), milliseconds(0));
}

TEST(ProbeRounds, TheDurationOrCancelEndsThem) {
  ProbeRequest request;
  request.duration = milliseconds(0);
  EXPECT_TRUE(ProbeRounds(request).Over());
  EXPECT_EQ(ProbeRounds(request).Wait(), milliseconds(0));

  std::atomic<bool> cancel = false;
  request.duration = std::chrono::hours(1);
  request.cancel = &cancel;
  const ProbeRounds rounds(request);
  EXPECT_FALSE(rounds.Over());
  cancel = true;
  EXPECT_TRUE(rounds.Over());

  // A duration past the clock's end is held there instead of wrapping to the past.
  request.cancel = nullptr;
  request.duration = milliseconds::max();
  EXPECT_FALSE(ProbeRounds(request).Over());
}

TEST(ProbeRounds, ThisPcsOwnAddressesNeverCountAndAcceptDecidesTheRest) {
  constexpr DeviceKey kOwn = 0x02005e000001;
  constexpr DeviceKey kDevice = 0x0080f4aabbcc;
  constexpr DeviceKey kStranger = 0x0080f4ddeeff;
  ProbeRequest request;
  EXPECT_TRUE(HolderCounts(request, kDevice, {kOwn}));
  EXPECT_FALSE(HolderCounts(request, kOwn, {kOwn}));
  request.accept = [](DeviceKey holder) { return holder != kStranger; };
  EXPECT_TRUE(HolderCounts(request, kDevice, {kOwn}));
  EXPECT_FALSE(HolderCounts(request, kStranger, {kOwn}));

  FirstFailure failure;
  failure.Note(10050, "first");
  failure.Note(10051, "second");
  const ProbeResult result = failure.Result();
  EXPECT_EQ(result.outcome, ProbeOutcome::kNotPossible);
  EXPECT_EQ(result.error, 10050);
  EXPECT_EQ(result.reason, "first");
}

}  // namespace
}  // namespace quillnet
