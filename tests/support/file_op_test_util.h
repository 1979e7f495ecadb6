#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/file_operation.h"

namespace quorvel::test {

/// Records what an operation asked and answers confirmations as told.
class RecordingUi : public platform::FileOpUi {
public:
    bool answer = false;
    std::vector<std::string> confirmations;
    std::vector<std::string> errors;

    bool ConfirmOverwrite(const platform::FileOperation&, const std::string&,
                          const std::string& destination) override {
        confirmations.push_back(destination);
        return answer;
    }
    void Progress(const platform::FileOperation&, const std::string&) override {}
    void Error(const platform::FileOperation&, const std::string& message) override {
        errors.push_back(message);
    }
};

inline platform::FileOperation MakeOperation(platform::FileOpKind kind,
                                             std::vector<std::string> sources,
                                             std::vector<std::string> destinations = {}) {
    platform::FileOperation op;
    op.kind = kind;
    op.sources = std::move(sources);
    op.destinations = std::move(destinations);
    return op;
}

}  // namespace quorvel::test
