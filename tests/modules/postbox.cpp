// The example mail module: a mailbox that the command service loads from
// the library directory. Subcommands: CREATE (opens the client named by the
// argument), SEND (posts the argument), RECEIVE (takes the oldest letter),
// COUNT, HISTORY (the subcommands received so far, joined by ";").
#include <deque>
#include <string>

namespace {
std::deque<std::string> g_letters;
std::string g_client;
std::string g_history;
std::string g_answer;
}  // namespace

extern "C" __attribute__((visibility("default"))) const char* pb_command(const char* command, const char* argument) {
    const std::string name = command ? command : "";
    const std::string value = argument ? argument : "";
    if (name != "HISTORY") g_history += (g_history.empty() ? "" : ";") + name + " " + value;
    if (name == "CREATE") {
        g_client = value;
        g_answer = "OK";
    } else if (name == "SEND") {
        if (g_client.empty()) return "NO CLIENT";
        g_letters.push_back(value);
        g_answer = std::to_string(g_letters.size());
    } else if (name == "RECEIVE") {
        g_answer = g_letters.empty() ? "" : g_letters.front();
        if (!g_letters.empty()) g_letters.pop_front();
    } else if (name == "COUNT") {
        g_answer = std::to_string(g_letters.size());
    } else if (name == "HISTORY") {
        g_answer = g_history;
    } else {
        g_answer = "?";
    }
    return g_answer.c_str();
}
