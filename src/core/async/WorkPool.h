#pragma once

#include <QHash>
#include <QList>
#include <QSet>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>
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

// How many elements are freed between two pauses. A value of fewer elements is freed where it is
// let go of (see letGo()): a job on the pool would cost more than the freeing.
inline constexpr qsizetype slice = 1'000;

// Between two slices: lets the threads waiting for the processor run first, once a release has
// freed for a quarter of a millisecond since it last did. Freeing a block takes the allocator's lock, and a
// thread waiting for that lock may not get it from a thread that frees block after block on the
// same processor: on one processor the window's thread would wait for a whole release. Not after
// every slice, though: while the window's thread is busy, a release that gives way that often
// barely runs, and the memory of the listings it frees stays taken. A yield rather than a sleep:
// a release that dawdles holds the memory of listings long gone.
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

// How many elements `value` has that free something of their own (those of a container of plain
// numbers and addresses free nothing one by one); for a tuple, the most of any of its parts.
template <typename T> constexpr bool freesItself = !std::is_trivially_destructible_v<T>;

template <typename T> qsizetype elementsOf(const QList<T>& list)
{
    return freesItself<T> ? list.size() : 0;
}

template <typename T> qsizetype elementsOf(const std::vector<T>& elements)
{
    return freesItself<T> ? static_cast<qsizetype>(elements.size()) : 0;
}

template <typename K, typename V> qsizetype elementsOf(const QHash<K, V>& hash)
{
    return freesItself<K> || freesItself<V> ? hash.size() : 0;
}

template <typename K> qsizetype elementsOf(const QSet<K>& set)
{
    return freesItself<K> ? set.size() : 0;
}

template <typename T> qsizetype elementsOf(const std::optional<T>& value)
{
    return value ? elementsOf(*value) : 0;
}

template <typename... Parts> qsizetype elementsOf(const std::tuple<Parts...>& parts)
{
    return std::apply([](const auto&... part) { return std::max<qsizetype>({0, elementsOf(part)...}); }, parts);
}

} // namespace release

// A copy of `list` of its own (shared with nothing), made on the work pool a slice at a time with
// a pause between two of them (see release::pause()): copying a big listing raises the counts of
// its items' texts one by one, and on one processor the window's thread gets it between slices,
// as it does while a release frees.
template <typename T> QList<T> copiedInSlices(const QList<T>& list)
{
    QList<T> copy;
    copy.reserve(list.size());
    for (qsizetype start = 0; start < list.size(); start += release::slice) {
        const qsizetype end = std::min(list.size(), start + release::slice);
        for (qsizetype index = start; index < end; ++index) {
            copy.append(list[index]);
        }
        release::pause();
    }
    return copy;
}

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
        using release::sliced; // and a `sliced` of the value's own type
        sliced(*held);
        held.reset();
    });
}

// The one rule for what the window's thread lets go of: a value of a slice of elements or more
// (see release::elementsOf; a tuple by its largest part) is freed on the work pool by slices
// (releaseOnWorkPool), anything smaller here and now.
template <typename T>
void letGo(T value)
{
    using release::elementsOf; // and an `elementsOf` of the value's own type
    if (elementsOf(value) >= release::slice) {
        releaseOnWorkPool(std::move(value));
    }
}

template <typename First, typename Second, typename... Rest>
void letGo(First first, Second second, Rest... rest)
{
    letGo(std::make_tuple(std::move(first), std::move(second), std::move(rest)...));
}

} // namespace quillbarrow
