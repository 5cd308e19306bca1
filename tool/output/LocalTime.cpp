#include "tool/output/LocalTime.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace okr {
namespace tool {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(long long year, long long month, long long day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// Appends value as digits decimal digits, zero-padded (snprintf is a
// noticeable share of a list of 100,000 objects).
void appendDigits(std::string& out, long long value, int digits)
{
    char text[24];
    for (int i = digits - 1; i >= 0; --i, value /= 10) {
        text[i] = static_cast<char>('0' + value % 10);
    }
    out.append(text, static_cast<std::size_t>(digits));
}

} // namespace

const std::string& isoLocalTime(std::time_t time)
{
    // Objects made together share a few seconds, met in name order: the
    // answers are kept by second, a few dozen of them.
    struct Answer {
        std::time_t time = 0;
        std::string text;
    };
    constexpr std::size_t kept = 64;
    static Answer answers[kept];
    Answer& answer = answers[static_cast<std::uint64_t>(time) % kept];
    std::time_t& lastTime = answer.time;
    std::string& lastText = answer.text;
    if (!lastText.empty() && time == lastTime) {
        return lastText;
    }
    // %z is not portable (MinGW gives a zone name), so the offset is the
    // local clock minus UTC.
    std::tm clock{};
    if (!localClock(time, clock)) {
        static const std::string unknown = "-";
        return unknown;
    }
    const long long localSeconds = daysFromCivil(clock.tm_year + 1900LL, clock.tm_mon + 1LL, clock.tm_mday) * 86400 +
                                   clock.tm_hour * 3600LL + clock.tm_min * 60LL + clock.tm_sec;
    const long long offsetMinutes = (localSeconds - static_cast<long long>(time)) / 60;
    const long long year = clock.tm_year + 1900LL;
    if (year < 0 || year > 9999) {
        char text[64];
        std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d%c%02lld:%02lld", year, clock.tm_mon + 1,
                      clock.tm_mday, clock.tm_hour, clock.tm_min, clock.tm_sec, offsetMinutes < 0 ? '-' : '+',
                      std::llabs(offsetMinutes) / 60, std::llabs(offsetMinutes) % 60);
        lastTime = time;
        lastText = text;
        return lastText;
    }
    std::string text;
    text.reserve(25);
    appendDigits(text, year, 4);
    text += '-';
    appendDigits(text, clock.tm_mon + 1, 2);
    text += '-';
    appendDigits(text, clock.tm_mday, 2);
    text += 'T';
    appendDigits(text, clock.tm_hour, 2);
    text += ':';
    appendDigits(text, clock.tm_min, 2);
    text += ':';
    appendDigits(text, clock.tm_sec, 2);
    text += offsetMinutes < 0 ? '-' : '+';
    appendDigits(text, std::llabs(offsetMinutes) / 60, 2);
    text += ':';
    appendDigits(text, std::llabs(offsetMinutes) % 60, 2);
    lastTime = time;
    lastText = std::move(text);
    return lastText;
}

} // namespace tool
} // namespace okr
