#pragma once

#include <QString>

#include <optional>

namespace quillbarrow {

class UserDefaults;

// The two clean-ups that keep earlier windows, window frames and split positions from being
// restored: each launch opens one new window. Both run twice per launch, when the application
// is built and when launching has finished (then in the reverse order). The window itself never
// saves its geometry.
class AppDelegate final {
public:
    // The identifier used when the application has none of its own.
    static QString defaultBundleIdentifier();

    // Removes "Library/Saved Application State/<identifier>.savedState" under `homePath`, with
    // everything in it (a link there is removed, not followed); the identifier is `bundleIdentifier`, or the default one when that is
    // absent or empty. Every failure (no such folder, no permission) is swallowed.
    static void removeStaleSavedApplicationState(const QString& homePath,
                                                 const std::optional<QString>& bundleIdentifier);

    // Sets "NSQuitAlwaysKeepsWindows" to false and "ApplePersistenceIgnoreState" to true, then
    // removes each key that begins with "NSWindow Frame " or "NSSplitView Subview Frames " (a
    // case-sensitive prefix test, the trailing space included); every other key stays.
    static void disableWindowRestorationDefaults(UserDefaults& defaults);
};

} // namespace quillbarrow
