// What a Prometheus server scrapes: the exposition text parsed line by line
// as a scraper would, counters that only grow, a stall's loss where an
// alert looks for it, and the HTTP endpoint's refusals of bad addresses.
#include "app/Metrics.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <cmath>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "app/AppFixture.h"
#include "app/ControlCommands.h"

namespace kavon {
namespace {

using test::AppFixture;
using test::Count;

struct Scrape {
  std::map<std::string, double> samples;      // "name{labels}" -> value
  std::map<std::string, std::string> types;   // family -> type
};

// Every line a HELP, a TYPE or a sample of a family whose HELP and TYPE
// came before it; label values quoted and escaped; values numbers.
Scrape Parse(const std::string& answer) {
  EXPECT_EQ(answer.rfind("OK\n", 0), 0u);
  const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) \S.*)");
  const std::regex type(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram))");
  const std::regex sample(
      R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{[a-zA-Z_][a-zA-Z0-9_]*="(?:\\.|[^"\\])*"(?:,[a-zA-Z_][a-zA-Z0-9_]*="(?:\\.|[^"\\])*")*\})? (\S+))");
  Scrape s;
  std::set<std::string> helped;
  std::istringstream in(answer.substr(3));
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, help)) {
      helped.insert(m[1]);
    } else if (std::regex_match(line, m, type)) {
      EXPECT_TRUE(helped.count(m[1])) << line;
      s.types[m[1]] = m[2];
    } else if (std::regex_match(line, m, sample)) {
      std::string family = m[1];
      for (const char* suffix : {"_bucket", "_sum", "_count"}) {
        const std::string base = family.substr(0, family.size() - std::min(family.size(), std::strlen(suffix)));
        if (family.ends_with(suffix) && s.types[base] == "histogram") family = base;
      }
      EXPECT_TRUE(s.types.count(family)) << "no TYPE before " << line;
      size_t used = 0;
      const std::string value = m[3];
      const double v = value == "NaN" ? NAN : std::stod(value, &used);
      EXPECT_TRUE(value == "NaN" || used == value.size()) << line;
      EXPECT_TRUE(s.samples.emplace(std::string(m[1]) + std::string(m[2]), v).second) << "twice: " << line;
    } else {
      ADD_FAILURE() << "not a valid line: '" << line << "'";
    }
  }
  return s;
}

bool IsCounter(const std::string& key) {
  const std::string name = key.substr(0, key.find('{'));
  if (name.ends_with("_total")) return true;
  return name.rfind("kavon_tick_seconds_", 0) == 0;  // a histogram's series only grow
}

TEST(Metrics, ExpositionParsesCountersGrowAndAStallShowsAsLoss) {
  AppFixture f("NumRec=1\n");
  test::WriteWholeFile(f.dir.File("timer.txt"),
                       "\"0\",\"300\",\"2024/03/01\",\"10:00:01\",\"0\",\"\",\"Show\"\r\n"
                       "\"1\",\"60\",\"2024/03/01\",\"11:00:00\",\"0\",\"\",\"Later\"\r\n");
  f.Load();
  f.Run(10);  // to 10:00:10, channel 1 recording since 10:00:01
  const Scrape first = Parse(AnswerControlRequest(*f.app, "metrics"));
  f.Run(5);
  const Scrape second = Parse(AnswerControlRequest(*f.app, "metrics"));
  for (const auto& [key, value] : first.samples) {
    if (IsCounter(key)) {
      EXPECT_GE(second.samples.at(key), value) << key;
    }
  }
  const auto at = [&](const Scrape& s, const std::string& key) { return s.samples.at(key); };
  EXPECT_NEAR(at(second, "kavon_frames_written_total{channel=\"1\"}") - at(first, "kavon_frames_written_total{channel=\"1\"}"),
              5 * 44100, 0.5 * 44100);
  EXPECT_EQ(at(second, "kavon_frames_written_total{channel=\"2\"}"), 0);
  EXPECT_EQ(at(second, "kavon_channel_recording{channel=\"1\"}"), 1);
  EXPECT_EQ(at(second, "kavon_channel_recording{channel=\"2\"}"), 0);
  EXPECT_EQ(at(second, "kavon_timer_entries"), 2);
  EXPECT_EQ(at(second, "kavon_timer_fired_total"), 1);
  const double now = std::floor(std::chrono::duration<double>(f.clock.NowUtc().time_since_epoch()).count());
  EXPECT_EQ(at(second, "kavon_next_timer_start_seconds"), now + 3585);  // 11:00:00 from 10:00:15
  EXPECT_EQ(at(second, "kavon_tick_seconds_count") - at(first, "kavon_tick_seconds_count"), 50);
  EXPECT_EQ(at(second, "kavon_tick_seconds_bucket{le=\"+Inf\"}"), at(second, "kavon_tick_seconds_count"));
  EXPECT_EQ(second.types.at("kavon_tick_seconds"), "histogram");

  f.clock.Advance(40);  // the process stood still 40 s: 30 s waited in buffers, 10 s are gone
  f.Run(1);
  const Scrape third = Parse(AnswerControlRequest(*f.app, "metrics"));
  EXPECT_NEAR(at(third, "kavon_frames_lost_total{channel=\"1\",cause=\"device\"}"), 10 * 44100, 0.3 * 44100);
  EXPECT_EQ(at(third, "kavon_frames_lost_total{channel=\"1\",cause=\"backlog\"}"), 0);
  EXPECT_EQ(Count(f.ErrText(), "音声欠落 1 "), 1);
}

// A port another program holds: bound here for the test's length.
int TakenPort(httplib::Server& holder) { return holder.bind_to_any_port("127.0.0.1"); }

TEST(Metrics, BadListenAddressesAreLoggedAndKavonRunsOn) {
  httplib::Server holder;
  const int taken = TakenPort(holder);
  ASSERT_GT(taken, 0);
  const struct {
    std::string listen;
    std::string why;
  } cases[] = {
      {"9723", "not host:port"},
      {"127.0.0.1:0", "1 to 65535"},
      {"127.0.0.1:65536", "1 to 65535"},
      {"127.0.0.1:97x", "1 to 65535"},
      {"::1:9723", "brackets"},
      {"127.0.0.1:" + std::to_string(taken), "cannot listen"},
      {"192.0.2.1:9723", "cannot listen"},  // an address of no machine here
  };
  for (const auto& c : cases) {
    AppFixture f("NumRec=0\nHttpListen=" + c.listen + "\n");
    f.Load();
    f.Run(1);
    const std::string err = f.ErrText();
    EXPECT_EQ(Count(err, "HTTP 待ち受けできません " + c.listen + " "), 1) << c.listen << "\n" << err;
    EXPECT_NE(err.find(c.why), std::string::npos) << c.listen;
    EXPECT_EQ(AnswerControlRequest(*f.app, "start 1").rfind("OK recording", 0), 0u) << c.listen;
  }
}

}  // namespace
}  // namespace kavon
