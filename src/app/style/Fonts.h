#pragma once

#include <QFont>

namespace quillbarrow {

// The text styles of the panes, derived from the application font so that they follow the
// user's size: caption and callout smaller, headline bold, title sizes larger.
class Fonts final {
public:
    static QFont body();
    static QFont caption();
    static QFont callout();
    static QFont headline();
    static QFont title2();
    static QFont title3Semibold();
};

} // namespace quillbarrow
