// Date: times in milliseconds since 1970 UTC. "Now" is the movie's clock
// added to the time the movie started, so a conversion that runs faster or
// slower than real time sees the movie's own time.
#include <cmath>
#include <ctime>

#include "flash/avm1/interpreter.h"

namespace qm::flash::avm1 {

namespace {

constexpr double kMsPerDay = 86400000.0;

double Day(double t) { return std::floor(t / kMsPerDay); }
double DaysInYear(double y) {
    if (std::fmod(y, 4) != 0) return 365;
    if (std::fmod(y, 100) != 0) return 366;
    return std::fmod(y, 400) == 0 ? 366 : 365;
}
double DayFromYear(double y) {
    return 365 * (y - 1970) + std::floor((y - 1969) / 4) - std::floor((y - 1901) / 100) + std::floor((y - 1601) / 400);
}
double YearFromTime(double t) {
    double y = std::floor(Day(t) / 365.2425) + 1970;
    while (DayFromYear(y) * kMsPerDay > t) --y;
    while (DayFromYear(y + 1) * kMsPerDay <= t) ++y;
    return y;
}
bool Leap(double y) { return DaysInYear(y) == 366; }
int MonthStart(int m, bool leap) {
    static const int starts[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
    return starts[m] + (leap && m >= 2 ? 1 : 0);
}
struct Parts {
    double year, month, date, day, hours, minutes, seconds, ms;
};
Parts Split(double t) {
    Parts p;
    p.year = YearFromTime(t);
    double in_year = Day(t) - DayFromYear(p.year);
    bool leap = Leap(p.year);
    int m = 0;
    while (m < 11 && in_year >= MonthStart(m + 1, leap)) ++m;
    p.month = m;
    p.date = in_year - MonthStart(m, leap) + 1;
    p.day = std::fmod(std::fmod(Day(t) + 4, 7) + 7, 7);
    double in_day = std::fmod(std::fmod(t, kMsPerDay) + kMsPerDay, kMsPerDay);
    p.hours = std::floor(in_day / 3600000);
    p.minutes = std::fmod(std::floor(in_day / 60000), 60);
    p.seconds = std::fmod(std::floor(in_day / 1000), 60);
    p.ms = std::fmod(in_day, 1000);
    return p;
}
double MakeTime(double year, double month, double date, double h, double mi, double s, double ms) {
    for (double v : {year, month, date, h, mi, s, ms})
        if (!std::isfinite(v)) return NAN;
    double y = year + std::floor(month / 12);
    double m = std::fmod(std::fmod(month, 12) + 12, 12);
    double day = DayFromYear(y) + MonthStart(int(m), Leap(y)) + date - 1;
    double t = day * kMsPerDay + h * 3600000 + mi * 60000 + s * 1000 + ms;
    return std::fabs(t) > 8.64e15 ? NAN : t;
}

// Minutes east of UTC of the machine's zone at a time.
double LocalOffsetMs(double t) {
    if (!std::isfinite(t)) return 0;
    time_t secs = time_t(std::floor(t / 1000));
    struct tm local {};
    if (!localtime_r(&secs, &local)) return 0;
    return double(local.tm_gmtoff) * 1000;
}
double ToLocal(double t) { return t + LocalOffsetMs(t); }
double ToUtc(double local) { return local - LocalOffsetMs(local - LocalOffsetMs(local)); }

double Num(Interpreter& in, std::vector<Value>& args, size_t i, double fallback) {
    return i < args.size() ? in.ToNumber(args[i]) : fallback;
}

}  // namespace

double Interpreter::NowMs() const { return start_ms_ + TimerMs(); }

void Interpreter::InstallDate() {
    ObjRef proto = NewObject();
    auto time_of = [](const Value& self) -> double* {
        auto* o = std::get_if<ObjRef>(&self);
        if (!o || !*o || (*o)->kind != Kind::Date) return nullptr;
        return std::get_if<double>(&(*o)->primitive);
    };
    ObjRef ctor = DefineClass("Date", [this](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        double t;
        if (args.empty()) t = std::floor(NowMs());
        else if (args.size() == 1) t = in.ToNumber(args[0]);
        else
            t = ToUtc(MakeTime(in.ToNumber(args[0]) + (in.ToNumber(args[0]) >= 0 && in.ToNumber(args[0]) < 100 ? 1900 : 0),
                               in.ToNumber(args[1]), Num(in, args, 2, 1), Num(in, args, 3, 0), Num(in, args, 4, 0),
                               Num(in, args, 5, 0), Num(in, args, 6, 0)));
        if (std::isfinite(t)) t = std::trunc(t);
        if (!o || !*o || (*o)->proto == nullptr || (*o)->kind != Kind::Plain) return in.DateText(std::floor(NowMs()));
        (*o)->kind = Kind::Date;
        (*o)->primitive = std::isfinite(t) ? t : NAN;
        return Undefined{};
    }, proto, false);
    Method(ctor, "UTC", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.size() < 2) return NAN;
        double y = in.ToNumber(args[0]);
        return MakeTime(y + (y >= 0 && y < 100 ? 1900 : 0), in.ToNumber(args[1]), Num(in, args, 2, 1), Num(in, args, 3, 0),
                        Num(in, args, 4, 0), Num(in, args, 5, 0), Num(in, args, 6, 0));
    });
    auto getter = [&](const std::string& name, bool utc, double Parts::*part, double add = 0) {
        Method(proto, name, [time_of, utc, part, add](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
            double* t = time_of(self);
            if (!t) return Undefined{};
            if (std::isnan(*t)) return NAN;
            return Split(utc ? *t : ToLocal(*t)).*part + add;
        });
    };
    for (bool utc : {false, true}) {
        std::string u = utc ? "UTC" : "";
        getter("get" + u + "FullYear", utc, &Parts::year);
        getter("get" + u + "Month", utc, &Parts::month);
        getter("get" + u + "Date", utc, &Parts::date);
        getter("get" + u + "Day", utc, &Parts::day);
        getter("get" + u + "Hours", utc, &Parts::hours);
        getter("get" + u + "Minutes", utc, &Parts::minutes);
        getter("get" + u + "Seconds", utc, &Parts::seconds);
        getter("get" + u + "Milliseconds", utc, &Parts::ms);
        getter("get" + u + "Year", utc, &Parts::year, -1900);
        // setters: the parts given replace those of the time, the rest stay
        struct Setter {
            const char* name;
            int first;  // index into year, month, date, hours, minutes, seconds, ms
            int count;
        };
        static const Setter setters[] = {{"FullYear", 0, 3}, {"Month", 1, 2},   {"Date", 2, 1},        {"Hours", 3, 4},
                                         {"Minutes", 4, 3},  {"Seconds", 5, 2}, {"Milliseconds", 6, 1}};
        for (const Setter& s : setters) {
            Method(proto, "set" + u + s.name, [time_of, utc, s](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                double* t = time_of(self);
                if (!t) return Undefined{};
                double base = std::isnan(*t) ? (s.first == 0 ? 0 : NAN) : (utc ? *t : ToLocal(*t));
                if (std::isnan(base)) return NAN;
                Parts p = Split(base);
                double v[7] = {p.year, p.month, p.date, p.hours, p.minutes, p.seconds, p.ms};
                for (int i = 0; i < s.count && size_t(i) < args.size(); ++i) v[s.first + i] = in.ToNumber(args[size_t(i)]);
                if (args.empty()) v[s.first] = NAN;
                double r = MakeTime(v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
                if (!utc && std::isfinite(r)) r = ToUtc(r);
                *t = std::isfinite(r) ? std::trunc(r) : NAN;
                return *t;
            });
        }
    }
    Method(proto, "setYear", [time_of](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        double* t = time_of(self);
        if (!t) return Undefined{};
        double y = Num(in, args, 0, NAN);
        if (y >= 0 && y < 100) y += 1900;
        Parts p = Split(std::isnan(*t) ? 0 : ToLocal(*t));
        double r = MakeTime(y, p.month, p.date, p.hours, p.minutes, p.seconds, p.ms);
        *t = std::isfinite(r) ? ToUtc(r) : NAN;
        return *t;
    });
    auto value = [time_of](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        double* t = time_of(self);
        return t ? Value(*t) : Value(Undefined{});
    };
    Method(proto, "getTime", value);
    Method(proto, "valueOf", value);
    Method(proto, "setTime", [time_of](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        double* t = time_of(self);
        if (!t) return Undefined{};
        double v = Num(in, args, 0, NAN);
        *t = std::isfinite(v) && std::fabs(v) <= 8.64e15 ? std::trunc(v) : NAN;
        return *t;
    });
    Method(proto, "getTimezoneOffset", [time_of](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        double* t = time_of(self);
        if (!t) return Undefined{};
        return -LocalOffsetMs(std::isnan(*t) ? 0 : *t) / 60000;
    });
    Method(proto, "toString", [time_of](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        double* t = time_of(self);
        if (!t) return std::string("[object Object]");
        return in.DateText(*t);
    });
}

std::string Interpreter::DateText(double t) {
    if (std::isnan(t)) return "Invalid Date";
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    double offset = LocalOffsetMs(t) / 60000;
    Parts p = Split(t + offset * 60000);
    char buf[96];
    int off = int(std::fabs(offset));
    std::snprintf(buf, sizeof buf, "%s %s %d %02d:%02d:%02d GMT%c%02d%02d %.0f", days[int(p.day)], months[int(p.month)],
                  int(p.date), int(p.hours), int(p.minutes), int(p.seconds), offset < 0 ? '-' : '+', off / 60, off % 60,
                  p.year);
    return buf;
}

}  // namespace qm::flash::avm1
