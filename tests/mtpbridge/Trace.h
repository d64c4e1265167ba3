#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace quillbarrow::fakes {

// One ordered record of what the fake libmtp and the fake host were asked to do, so that a test
// can check the exact sequence of detections, opens, kills and sleeps.
class Trace {
  public:
    void add(std::string event);
    std::vector<std::string> events() const;
    void clear();

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

} // namespace quillbarrow::fakes
