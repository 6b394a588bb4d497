// Test fixture that points the settings and the data folder at a temporary folder, so that no test
// reads or writes the real user's files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace kestrel::testing {

// Sets environment variables for the lifetime of the object and restores them afterwards.
class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    void set(const std::string& name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

class IsolatedAppTest : public ::testing::Test {
  protected:
    IsolatedAppTest() {
        environment_.set("XDG_CONFIG_HOME", (temp_ / "config").string());
        environment_.set("XDG_DATA_HOME", (temp_ / "data").string());
    }
    std::filesystem::path configFile() const { return temp_ / "config" / "Quillon" / "Kestrel.conf"; }
    std::filesystem::path dataFolder() const { return temp_ / "data" / "Quillon" / "Kestrel"; }

    TempDir temp_;
    ScopedEnvironment environment_;
};

}  // namespace kestrel::testing
