#pragma once

#include <QWidget>

#include <memory>

namespace quillbarrow::snapshots {

// The Android location controls over a pretend device with two storages: the switcher while the
// card's root is still being listed (the internal storage left enabled, the card spinning), and
// below it the breadcrumb row of DCIM/Camera. The widget owns its device browsers.
std::unique_ptr<QWidget> androidNavigationScene();

} // namespace quillbarrow::snapshots
