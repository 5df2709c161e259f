// Runs a release function when the scope is left, normally or by an
// exception, unless dismissed.
#pragma once

#include <utility>

namespace launcher {

template <class Release>
class ScopeGuard {
  public:
    explicit ScopeGuard(Release release) noexcept : release_(std::move(release)) {}
    ~ScopeGuard() {
        if (!dismissed_) release_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

    void Dismiss() noexcept { dismissed_ = true; }

  private:
    Release release_;
    bool dismissed_ = false;
};

template <class Release>
ScopeGuard<Release> MakeScopeGuard(Release release) {
    return ScopeGuard<Release>(std::move(release));
}

}  // namespace launcher
