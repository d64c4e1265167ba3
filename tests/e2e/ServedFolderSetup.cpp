#include "E2EResponder.h"

#include <exception>
#include <gtest/gtest.h>

namespace quillbarrow::e2e {

namespace {

// Prepares the served folder once, before the first test opens a session (see
// E2EResponder::prepareServedFolder). Outside the runner's guest every test fails here, with the
// reason.
class ServedFolderSetup : public ::testing::Environment {
  public:
    void SetUp() override
    {
        try {
            E2EResponder::current().prepareServedFolder();
        } catch (const std::exception& error) {
            FAIL() << error.what();
        }
    }
};

[[maybe_unused]] ::testing::Environment* const servedFolderSetup =
    ::testing::AddGlobalTestEnvironment(new ServedFolderSetup);

} // namespace

} // namespace quillbarrow::e2e
