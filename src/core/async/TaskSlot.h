#pragma once

#include <QtGlobal>

#include <stop_token>

namespace quillbarrow {

// Owns the stop source of the one running task of its kind (a listing, a monitoring loop,
// a measurement). Starting a new task stops the previous one; the generation tells a task
// whether it is still the current one after it resumes.
class TaskSlot {
public:
    TaskSlot() = default;
    ~TaskSlot();
    TaskSlot(const TaskSlot&) = delete;
    TaskSlot& operator=(const TaskSlot&) = delete;

    // Requests stop of the running task and returns the token of the new one.
    std::stop_token start();
    // Requests stop of the running task; the slot is then empty.
    void cancel();
    std::stop_token token() const { return m_source.get_token(); }
    quint64 generation() const { return m_generation; }
    bool isCurrent(quint64 generation) const { return generation == m_generation && m_running; }
    // A task was started and neither cancelled nor replaced since.
    bool isRunning() const { return m_running; }

private:
    std::stop_source m_source{std::nostopstate};
    quint64 m_generation = 0;
    bool m_running = false;
};

} // namespace quillbarrow
