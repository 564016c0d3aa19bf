#pragma once

// A drop source a test scripts: the name it suggests and how it answers each request (by default
// it never answers). Answers arrive on the main thread after the call, as the real ones do.

#include "platform/DropSource.h"

#include <QCoreApplication>
#include <QList>

namespace vyo {

class FakeDropSource final : public DropSource
{
public:
    std::optional<QString> suggestedName() override { return name; }
    void receive(const Request &request, std::function<void(const Result &)> done) override
    {
        requests.append(request);
        Result result;
        result.answer = SaveAnswer::noAnswer;
        if (answer)
            result = answer(request);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [done = std::move(done), result] { done(result); },
            Qt::QueuedConnection);
    }

    std::optional<QString> name;
    std::function<Result(const Request &)> answer;
    QList<Request> requests;
};

} // namespace vyo
