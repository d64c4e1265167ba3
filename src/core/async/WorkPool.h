#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

class QThreadPool;

namespace quillbarrow {

// The program's own pool for blocking work that may run long: local copies, the Trash, folder
// reading and measuring, staging sweeps, file syncs, the scan for programs holding the phone.
// Qt's raster painter splits big fills over Qt's global thread pool and waits for them, so
// a long job on that pool freezes painting until it ends; nothing of ours ever runs there.
// Sized so that a long copy and the folder measurements beside it still leave threads for a
// listing the user is waiting for. Created on first use.
QThreadPool& workPool();

// Runs `job` on the work pool behind the work waiting there; see releaseOnWorkPool.
void startReleaseOnWorkPool(std::function<void()> job);

namespace release {

// How many elements are freed between two pauses.
inline constexpr qsizetype slice = 1'000;

// Lets the threads waiting for the processor run first. Freeing a block takes the allocator's
// lock, and a thread waiting for that lock may not get it from a thread that frees block after
// block on the same processor: on one processor the window's thread would wait for a whole release.
// A yield rather than a sleep: a release that dawdles holds the memory of listings long gone.
void pause();

// Frees `value`, a big container by slices, with a pause between two of them. A container still
// shared elsewhere is only let go of: whoever holds it last frees it.
template <typename T> void sliced(T& value)
{
    [[maybe_unused]] const T dropped = std::move(value);
}

template <typename T> void sliced(QList<T>& list)
{
    while (list.isDetached() && list.size() > slice) {
        list.remove(list.size() - slice, slice);
        pause();
    }
    list = QList<T>();
}

template <typename T> void sliced(std::vector<T>& elements)
{
    while (elements.size() > static_cast<std::size_t>(slice)) {
        elements.erase(elements.end() - slice, elements.end());
        pause();
    }
    elements = std::vector<T>();
}

// QHash and QSet.
template <typename Container> void slicedErasing(Container& container)
{
    while (container.isDetached() && container.size() > slice) {
        auto element = container.begin();
        for (qsizetype count = 0; count < slice; ++count) {
            element = container.erase(element);
        }
        pause();
    }
    container = Container();
}

template <typename K, typename V> void sliced(QHash<K, V>& hash)
{
    slicedErasing(hash);
}

template <typename K> void sliced(QSet<K>& set)
{
    slicedErasing(set);
}

template <typename T> void sliced(std::optional<T>& value)
{
    if (value) {
        sliced(*value);
    }
    value.reset();
}

// In order: the parts that only share their data with a later part come first, so that the last
// holder, which frees, goes by slices.
template <typename... Parts> void sliced(std::tuple<Parts...>& parts)
{
    std::apply([](auto&... part) { (sliced(part), ...); }, parts);
}

} // namespace release

// Lets go of `value` on the work pool rather than here, by slices (see release::sliced).
// Dropping the last reference to a listing of many thousand items frees every item, which the
// window's thread should not wait for. Only for values that may be let go on another thread (Qt's
// implicitly shared types may: their counts are atomic) and into which nothing here still points;
// where `value` shares its data with a copy kept here, the pool only drops its own reference.
template <typename T>
void releaseOnWorkPool(T value)
{
    auto held = std::make_shared<T>(std::move(value));
    startReleaseOnWorkPool([held = std::move(held)]() mutable {
        release::sliced(*held);
        held.reset();
    });
}

} // namespace quillbarrow
