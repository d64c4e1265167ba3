#pragma once

#include <QWidget>

namespace quillbarrow {

// The connect-a-device guide that the Android pane shows while no device is selected: the cable
// symbol, "Connect an Android device" and four hints, centred in whatever space it is given.
class OnboardingView final : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingView(QWidget* parent = nullptr);
};

} // namespace quillbarrow
