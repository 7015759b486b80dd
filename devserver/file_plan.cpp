#include "file_plan.h"

#include <algorithm>
#include <system_error>

#include "answers.h"

namespace devserver {
namespace fs = std::filesystem;

namespace {

constexpr int kNotFound = 404;
constexpr const char* kFileType = "application/octet-stream";
constexpr const char* kHtmlType = "text/html";

bool IsInside(const fs::path& root, const fs::path& candidate)
{
    auto r = root.begin();
    auto c = candidate.begin();
    for (; r != root.end(); ++r, ++c) {
        // A trailing separator shows up as an empty last element of `root`.
        if (r->empty() && std::next(r) == root.end())
            return true;
        if (c == candidate.end() || *r != *c)
            return false;
    }
    return true;
}

const Fault* ChooseFileFault(const State& state, const std::string& name)
{
    auto exact = state.fileFaults.find(name);
    if (exact != state.fileFaults.end())
        return &exact->second;
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return nullptr;
    auto base = state.fileFaults.find(name.substr(slash + 1));
    if (base != state.fileFaults.end())
        return &base->second;
    return nullptr;
}

void NotFound(FilePlan& plan)
{
    plan.action = "not_found";
    plan.status = kNotFound;
    plan.contentType = kHtmlType;
    plan.body = HtmlErrorPage(kNotFound);
}

} // namespace

bool ResolveFilePath(const fs::path& root, const std::string& urlPath, std::string& name, fs::path& file,
                     std::string& error)
{
    if (urlPath.empty() || urlPath.front() != '/') {
        error = "the path does not start with /";
        return false;
    }
    name = urlPath.substr(1);
    if (name.empty()) {
        error = "no file named";
        return false;
    }
    fs::path relative;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = name.find('/', start);
        const std::string segment = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (segment.empty() || segment == "." || segment == "..") {
            error = "empty, . or .. path segment";
            return false;
        }
        if (segment.find('\\') != std::string::npos || segment.find('\0') != std::string::npos) {
            error = "backslash or NUL in the path";
            return false;
        }
        relative /= segment;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }

    std::error_code ec;
    const fs::path realRoot = fs::weakly_canonical(root, ec);
    if (ec) {
        error = "files directory " + root.string() + ": " + ec.message();
        return false;
    }
    const fs::path realFile = fs::weakly_canonical(realRoot / relative, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    if (!IsInside(realRoot, realFile)) {
        error = "the file lies outside the files directory";
        return false;
    }
    file = realFile;
    return true;
}

FilePlan PlanFileAnswer(const State& state, const fs::path& root, const std::string& urlPath)
{
    FilePlan plan;
    std::string error;
    if (root.empty() || !ResolveFilePath(root, urlPath, plan.name, plan.path, error)) {
        if (plan.name.empty())
            plan.name = urlPath;
        NotFound(plan);
        return plan;
    }

    const Fault* fault = ChooseFileFault(state, plan.name);
    if (fault != nullptr) {
        plan.delayMs = fault->delayMs;
        plan.stallMs = fault->stallMs;
        plan.stallAfter = static_cast<unsigned long long>(fault->stallAfter);
        plan.trickleBytes = fault->trickleBytes;
        plan.trickleMs = fault->trickleMs;
        if (fault->reset) {
            plan.action = "reset";
            plan.reset = true;
            return plan;
        }
        if (fault->drop) {
            plan.action = "drop";
            plan.drop = true;
            return plan;
        }
        if (fault->redirectLoop || !fault->redirectTo.empty()) {
            plan.action = "redirect";
            plan.redirect = true;
            plan.location = fault->redirectTo;
            plan.status = kRedirectLoopStatus;
            plan.contentType = kHtmlType;
            plan.body = HtmlErrorPage(kRedirectLoopStatus);
            return plan;
        }
        if (fault->httpStatus != 0) {
            plan.action = "http_error";
            plan.status = fault->httpStatus;
            plan.contentType = kHtmlType;
            plan.body = fault->body ? *fault->body : HtmlErrorPage(fault->httpStatus);
            return plan;
        }
    }

    std::error_code ec;
    if (!fs::is_regular_file(plan.path, ec)) {
        NotFound(plan);
        return plan;
    }
    plan.size = fs::file_size(plan.path, ec);
    if (ec) {
        NotFound(plan);
        return plan;
    }
    plan.action = "file";
    plan.contentType = kFileType;
    plan.announced = plan.size;
    plan.sendLimit = plan.size;
    if (fault != nullptr && fault->truncate) {
        // Announce at least one byte more than is sent, so the client sees a
        // short body whatever the file's size.
        plan.action = "truncate";
        plan.announced = std::max<unsigned long long>(plan.size, 1);
        const unsigned long long wanted =
            fault->truncateAfter >= 0 ? static_cast<unsigned long long>(fault->truncateAfter) : plan.size / 2;
        plan.sendLimit = std::min(wanted, plan.announced - 1);
    } else if (fault != nullptr && fault->dropAfter >= 0) {
        // Nothing announced: only the missing closing chunk tells the client.
        plan.action = "cut_chunked";
        plan.chunked = true;
        plan.sendLimit = std::min(static_cast<unsigned long long>(fault->dropAfter), plan.size > 0 ? plan.size - 1 : 0);
    }
    return plan;
}

} // namespace devserver
