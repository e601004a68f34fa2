// Environment variables set for one test and put back afterwards.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    // Null: the variable is unset.
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old != nullptr ? old : "", old != nullptr});
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    void Set(const char* name, const std::string& value) { Set(name, value.c_str()); }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had)
                setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                unsetenv(it->name.c_str());
        }
    }

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};
