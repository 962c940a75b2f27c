#include "app/CLinkStatus.h"

#include "decode/Decoders.h"
#include "decode/FrameBytes.h"

#include <cstdio>

namespace orvex {

namespace {

constexpr std::uint8_t kNak = 0xFF;
constexpr std::uint8_t kInvalidCommand = 0x30;

// The poll decoder's line without its direction mark and the frame of
// asterisks around bill events.
std::string PollStateText(std::span<const std::string> record)
{
    DecodeContext context;
    DecodeOutput output;
    std::string line = DecodePoll(DecodeInput { record[1], record, context }, output);
    if (line.rfind("<- ", 0) == 0)
        line.erase(0, 3);
    std::string text;
    bool blank = false;
    for (char c : line) {
        if (c == '*')
            continue;
        if (c == ' ') {
            blank = !text.empty();
            continue;
        }
        if (blank)
            text.push_back(' ');
        blank = false;
        text.push_back(c);
    }
    return text;
}

} // namespace

void CLinkStatus::SetSettings(const Settings& settings)
{
    std::lock_guard guard(m_mutex);
    m_settings = settings;
}

void CLinkStatus::OnExchange(std::string_view name, std::span<const std::string> record, Clock::time_point when)
{
    const bool answered = record.size() >= 2 && HasByteGroup(record[1]);
    bool refused = false;
    if (answered && LineGroupCount(record[1]) == 6) {
        std::uint8_t code = LineByte(record[1], 3);
        refused = code == kNak || code == kInvalidCommand;
    }
    std::string pollState;
    const bool isPoll = name == "POLL" || name == "POLL CR";
    if (isPoll && answered)
        pollState = PollStateText(record);

    std::lock_guard guard(m_mutex);
    ++m_exchanges;
    if (!answered || refused)
        ++m_errors;
    if (answered) {
        m_lastAnswer = when;
        m_silentSince.reset();
    } else if (!m_silentSince) {
        m_silentSince = m_lastAnswer ? *m_lastAnswer : when;
    }
    if (isPoll) {
        m_lastPollTime = when;
        m_lastPollState = answered ? pollState : (record.size() >= 2 ? record[1].substr(std::min<std::size_t>(3, record[1].size())) : "no answer");
    }
}

CLinkStatus::Fields CLinkStatus::Describe(Clock::time_point now) const
{
    std::lock_guard guard(m_mutex);
    Fields fields;
    if (m_settings.portName.empty())
        fields.port = "No port";
    else
        fields.port = m_settings.portPath.empty() ? m_settings.portName : m_settings.portName + " " + m_settings.portPath;
    fields.speed = m_settings.baud > 0 ? std::to_string(m_settings.baud) + " baud" : "";
    fields.address = AddressName(m_settings.address) + " (address " + std::to_string(m_settings.address) + ")";
    fields.polling = m_settings.polling ? "Polling" : "Not polling";
    if (m_settings.waitingForLine)
        fields.polling = m_settings.polling ? "Polling: waiting for the adapter to come back"
                                            : "Waiting for the adapter to come back";
    if (!m_settings.busWatch.empty())
        fields.polling = m_settings.busWatch;
    if (m_lastPollTime)
        fields.lastPoll = "Last poll " + m_lastPollState + ", " + AgeText(now - *m_lastPollTime) + " ago";
    fields.counts = "Exchanges " + std::to_string(m_exchanges) + ", errors " + std::to_string(m_errors);
    if (m_silentSince) {
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - *m_silentSince).count();
        fields.silence = "No answer for " + std::to_string(seconds < 1 ? 1 : seconds) + " s";
        fields.silent = true;
    }
    return fields;
}

std::uint64_t CLinkStatus::Exchanges() const
{
    std::lock_guard guard(m_mutex);
    return m_exchanges;
}

std::uint64_t CLinkStatus::Errors() const
{
    std::lock_guard guard(m_mutex);
    return m_errors;
}

void CLinkStatus::ResetCounts()
{
    std::lock_guard guard(m_mutex);
    m_exchanges = 0;
    m_errors = 0;
    m_lastPollState.clear();
    m_lastPollTime.reset();
    m_lastAnswer.reset();
    m_silentSince.reset();
}

std::string CLinkStatus::AddressName(int address)
{
    static constexpr const char* kNames[] { "Forbidden", "CY", "Changer", "BV", "CR" };
    return address >= 0 && address < 5 ? kNames[address] : "?";
}

std::string CLinkStatus::AgeText(Clock::duration age)
{
    double seconds = std::chrono::duration<double>(age).count();
    if (seconds < 0)
        seconds = 0;
    char text[32];
    if (seconds < 10)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else if (seconds < 60)
        std::snprintf(text, sizeof text, "%d s", static_cast<int>(seconds));
    else
        std::snprintf(text, sizeof text, "%d min %d s", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    return text;
}

} // namespace orvex
