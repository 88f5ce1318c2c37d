// tests/socks/winsock_environment.cpp
// Kestrel starts Winsock at program start-up, not in the proxy test; the test
// programs do the same here, once for all their tests.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <winsock2.h>

namespace {

class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
    }
    void TearDown() override { ::WSACleanup(); }
};

[[maybe_unused]] ::testing::Environment* const kWinsock =
    ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

}  // namespace
#endif
