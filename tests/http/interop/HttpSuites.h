#pragma once
// Test fixtures that start one real peer (and the files it serves) for a test suite.
// CTest runs every case in its own process, so a suite's peers live as long as one case.

#include "http/interop/HttpFetch.h"
#include "http/interop/HttpPeers.h"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <string>

namespace vt::test {

// Skips when the peer's program is missing; fails with its log when it did not come up.
#define VT_REQUIRE_PEER(failure, name)                                                             \
    do {                                                                                           \
        if ((failure) == "missing") GTEST_SKIP() << name " is not installed";                      \
        ASSERT_EQ((failure), "") << name " did not come up";                                       \
    } while (0)

// nginx over a document root. Locations: /missing (404), /moved (302 to the second
// port), /moved-relative (302 with a relative Location), /slow/ (the files at 100 kB/s)
// and, with the echo module, /echo (the request head as it arrived), /sleep (the first
// byte after 2 s) and /post (the request body sent back).
class TNginxSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Docs = std::make_unique<TDocRoot>();
        Nginx = std::make_unique<TNginxPeer>();
        Failure = Nginx->Start(Docs->Dir, NginxLocations(*Docs, *Nginx));
    }
    static void TearDownTestSuite() {
        Nginx.reset();
        Docs.reset();
    }
    void SetUp() override { VT_REQUIRE_PEER(Failure, "nginx"); }
    void TearDown() override {
        if (HasFailure() && Nginx) std::cerr << "nginx logs:\n" << Nginx->Logs() << "\n";
    }

    static std::string NginxLocations(const TDocRoot& docs, const TNginxPeer& nginx) {
        std::string s;
        auto add = [&s](const std::string& line) { s += "    " + line + "\n"; };
        add("location = /missing { return 404; }");
        add("location = /moved { return 302 " + nginx.Url2("/small.gif") + "; }");
        add("location = /moved-relative { absolute_redirect off; return 302 /small.gif; }");
        add("location /slow/ { alias " + docs.Dir + "/; limit_rate 100k; }");
        if (TNginxPeer::HasEchoModule()) {
            add("location = /echo { echo -n $echo_client_request_headers; }");
            add("location = /sleep { echo_sleep 2; echo late; }");
            add("location = /post {");
            add("  client_body_buffer_size 1m;");
            add("  echo_read_request_body;");
            add("  echo -n $echo_request_body;");
            add("}");
        }
        return s;
    }

    static inline std::unique_ptr<TDocRoot> Docs;
    static inline std::unique_ptr<TNginxPeer> Nginx;
    static inline std::string Failure;
};

} // namespace vt::test
