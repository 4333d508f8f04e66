#pragma once
// JobHandle: the model's handle on one cancellable job (a coroutine that
// awaits work on a pool). The job keeps the token; the model keeps the handle
// and cancels it when a newer request replaces the job. Replacing a handle
// does not cancel the old job: the owner cancels first. GUI thread only; the
// token itself may be read from any thread.

#include <memory>

#include "Platform/Clock.h"

namespace pallix {

class JobHandle {
public:
    JobHandle() = default;

    // A fresh handle with its own token, to hand to a new job.
    static JobHandle start() { return JobHandle(std::make_shared<CancelToken>()); }

    bool isActive() const { return m_token != nullptr; }
    void cancel()
    {
        if (m_token)
            m_token->cancel();
    }
    std::shared_ptr<CancelToken> token() const { return m_token; }

private:
    explicit JobHandle(std::shared_ptr<CancelToken> token) : m_token(std::move(token)) {}

    std::shared_ptr<CancelToken> m_token;
};

} // namespace pallix
