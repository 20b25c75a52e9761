#include "support/fake_id_service.h"

#include <sstream>

namespace {

SIdServiceRequest ParseRequestLine(const std::string& request) {
    SIdServiceRequest parsed;
    const size_t start = request.find(' ');
    const size_t end = request.find(' ', start + 1);
    if (start == std::string::npos || end == std::string::npos) return parsed;
    const std::string target = request.substr(start + 1, end - start - 1);
    const size_t question = target.find('?');
    parsed.script = target.substr(0, question);
    if (question == std::string::npos) return parsed;
    std::stringstream query(target.substr(question + 1));
    std::string pair;
    while (std::getline(query, pair, '&')) {
        if (pair.empty()) continue;
        const size_t equals = pair.find('=');
        parsed.keys[pair.substr(0, equals)] = equals == std::string::npos ? "" : pair.substr(equals + 1);
    }
    return parsed;
}

// The keys without which the service cannot answer a search.
bool SearchComplete(const SIdServiceRequest& search) {
    static const char* const kCommon[] = {"u", "p", "mode", "file_size", "song_length",
                                          "filename", "bitrate", "md5", "version"};
    for (const char* key : kCommon)
        if (search.keys.count(key) == 0) return false;
    const std::string& mode = search.keys.at("mode");
    if (mode == "2") return search.keys.count("t") == 1 && !search.keys.at("t").empty();
    return mode == "1" && search.keys.count("t") == 0;
}

}  // namespace

CFakeIdService::CFakeIdService() {
    server_.SetHandler([this](const std::string& request) { return Handle(request); });
}

void CFakeIdService::QueueSearch(CFakeResponse response) {
    std::lock_guard lock(mutex_);
    searches_.push_back(std::move(response));
}

void CFakeIdService::SetRelogin(CFakeResponse response) {
    std::lock_guard lock(mutex_);
    relogin_ = std::move(response);
}

void CFakeIdService::SetIntro(CFakeResponse response) {
    std::lock_guard lock(mutex_);
    intro_ = std::move(response);
}

std::vector<SIdServiceRequest> CFakeIdService::Requests(const std::string& script) const {
    std::lock_guard lock(mutex_);
    std::vector<SIdServiceRequest> found;
    for (const SIdServiceRequest& request : requests_)
        if (request.script == script) found.push_back(request);
    return found;
}

std::string CFakeIdService::Answer(const std::vector<std::string>& albums) {
    std::string text = "<?xml version=\"1.0\"?>\n<result>\n";
    int number = 1;
    for (const std::string& album : albums) {
        text += "<song match_number=\"" + std::to_string(number++) + "\">" +
                "<song_name>Title of " + album + "</song_name>" +
                "<artist><artist_name>Artist</artist_name></artist>" +
                "<album><album_name>" + album + "</album_name><track_id>3</track_id></album></song>\n";
    }
    return text + "</result>\n";
}

CFakeResponse CFakeIdService::Handle(const std::string& request) {
    SIdServiceRequest parsed = ParseRequestLine(request);
    std::lock_guard lock(mutex_);
    requests_.push_back(parsed);
    if (parsed.script == "/cgi-bin/relogin.cgi") return relogin_;
    if (parsed.script == "/cgi-bin/get_anon.cgi") return intro_;
    if (parsed.script != "/cgi-bin/search.cgi") return CFakeResponse::Plain(404, "no such script");
    if (!SearchComplete(parsed)) return CFakeResponse::Plain(400, "incomplete query");
    if (searches_.empty()) return CFakeResponse::Plain(200, NoMatch());
    CFakeResponse answer = std::move(searches_.front());
    searches_.pop_front();
    return answer;
}
