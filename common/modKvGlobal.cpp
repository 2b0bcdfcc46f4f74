#include "modKvGlobal.h"

#include <array>
#include <cstdio>

#include "Convert.h"

namespace common {

namespace {

// The seven fields of a serial or elapsed serial, least significant first: milliseconds,
// seconds, minutes, hours, days, months, years. Each is taken modulo its digits.
struct SerialFields {
  std::array<double, 7> value{};
  double &ms() { return value[0]; }
};

enum Field { kMs, kSecond, kMinute, kHour, kDay, kMonth, kYear };

SerialFields SplitSerial(double x) {
  SerialFields fields;
  // Serials are whole numbers below 10^15: whole-number arithmetic gives the same fields fast.
  if (x >= 0 && x < 1e15 && static_cast<double>(static_cast<int64_t>(x)) == x) {
    int64_t rest = static_cast<int64_t>(x);
    fields.value[kMs] = static_cast<double>(rest % 1000);
    rest /= 1000;
    for (int field = kSecond; field <= kYear; ++field) {
      fields.value[field] = static_cast<double>(rest % 100);
      rest /= 100;
    }
    return fields;
  }
  fields.value[kMs] = x - std::floor(x / 1000) * 1000;
  double rest = std::floor(x / 1000);
  for (int field = kSecond; field <= kYear; ++field) {
    fields.value[field] = rest - std::floor(rest / 100) * 100;
    rest = std::floor(rest / 100);
  }
  return fields;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int FullYear(int twoDigitYear) {
  if (twoDigitYear < 0 || twoDigitYear > 99) return twoDigitYear;
  return twoDigitYear < 30 ? 2000 + twoDigitYear : 1900 + twoDigitYear;
}

// The length of the month a serial lies in; 31 for digits that name no month.
double DaysInMonth(double twoDigitYear, double month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  const int m = static_cast<int>(month);
  if (m == 2 && IsLeapYear(FullYear(static_cast<int>(twoDigitYear)))) return 29;
  return kDays[m - 1];
}

// The decimal digits of a serial, filled with zeros on the left to at least 15 characters,
// then the rightmost 15.
std::string SerialDigits(double serial) {
  // No serial is negative: a negative value (from digits that are no real date) reads as 0
  // rather than as text that no field can be read from.
  if (!(serial >= 0)) serial = 0;
  char text[400];
  if (serial == std::floor(serial)) {
    std::snprintf(text, sizeof text, "%.0f", serial);
  } else {
    std::snprintf(text, sizeof text, "%.6f", serial);
  }
  std::string digits(text);
  if (digits.find('.') != std::string::npos) {
    while (digits.back() == '0') digits.pop_back();
  }
  digits.insert(0, 15, '0');
  return digits.substr(digits.size() - 15);
}

int16_t DigitsToInteger(const std::string &text, size_t first, size_t count) {
  return TextToInteger(kGlobalSite, std::string_view(text).substr(first, count));
}

}  // namespace

double ElapsedSerial(double start, double end) {
  return Guard(kGlobalSite, "Function: ElapsedSerial", [&] {
    if (start == 0 || end == 0 || start > end) return 0.0;
    SerialFields from = SplitSerial(start);
    SerialFields to = SplitSerial(end);
    static constexpr double kRange[] = {1000, 60, 60, 24, 0, 12};
    SerialFields result;
    double borrow = 0;
    for (int field = kMs; field <= kYear; ++field) {
      double d = to.value[field] - borrow - from.value[field];
      borrow = 0;
      if (d < 0 && field != kYear) {
        d += field == kDay ? DaysInMonth(from.value[kYear], from.value[kMonth]) : kRange[field];
        borrow = 1;
      }
      result.value[field] = d;
    }
    return result.value[kYear] * 1e13 + result.value[kMonth] * 1e11 + result.value[kDay] * 1e9 +
           result.value[kHour] * 1e7 + result.value[kMinute] * 1e5 + result.value[kSecond] * 1e3 +
           result.value[kMs];
  });
}

double ElapsedMilliseconds(double elapsed) {
  return Guard(kGlobalSite, "Function: ElapsedMilliseconds", [&] {
    SerialFields f = SplitSerial(elapsed);
    return f.value[kMs] + f.value[kSecond] * 1000.0 + f.value[kMinute] * 60000.0 +
           f.value[kHour] * 3600000.0 + f.value[kDay] * 86400000.0 +
           f.value[kMonth] * 2592000000.0 + f.value[kYear] * 946080000000.0;
  });
}

double MillisecondsBetween(double start, double end) {
  // Within one day every borrow between the time fields is worth exactly what the conversion
  // to milliseconds counts for it, so the gap is the plain difference of the times of day.
  constexpr int64_t kBelowDay = 1'000'000'000;  // the digits below the day field
  const auto timeOfDay = [](int64_t digits, int64_t &milliseconds) {
    const int64_t ms = digits % 1000, s = digits / 1000 % 100, m = digits / 100'000 % 100,
                  h = digits / 10'000'000;
    milliseconds = ((h * 60 + m) * 60 + s) * 1000 + ms;
    return m < 60 && s < 60;  // a larger hour never borrows from the day
  };
  if (start > 0 && end < 1e15 && start <= end) {
    const auto first = static_cast<int64_t>(start), last = static_cast<int64_t>(end);
    int64_t from = 0, to = 0;
    if (static_cast<double>(first) == start && static_cast<double>(last) == end &&
        first / kBelowDay == last / kBelowDay && timeOfDay(first % kBelowDay, from) &&
        timeOfDay(last % kBelowDay, to)) {
      return static_cast<double>(to - from);
    }
  }
  return ElapsedMilliseconds(ElapsedSerial(start, end));
}

DateTime GetDateFromSerial(const double &serial) {
  return Guard(kGlobalSite, "Function: GetDateFromSerial", [&] {
    if (serial >= 0 && serial < 1e15 &&
        static_cast<double>(static_cast<int64_t>(serial)) == serial) {
      // The digits of a whole serial, read with whole-number arithmetic: the same fields fast.
      int64_t rest = static_cast<int64_t>(serial) / 1000;
      int fields[6];
      for (int field = 5; field >= 0; --field, rest /= 100)
        fields[field] = static_cast<int>(rest % 100);
      return MakeDateTime(FullYear(fields[0]), fields[1], fields[2], fields[3], fields[4],
                          fields[5]);
    }
    const std::string digits = SerialDigits(serial);
    const int year = FullYear(DigitsToInteger(digits, 0, 2));
    return MakeDateTime(year, DigitsToInteger(digits, 2, 2), DigitsToInteger(digits, 4, 2),
                        DigitsToInteger(digits, 6, 2), DigitsToInteger(digits, 8, 2),
                        DigitsToInteger(digits, 10, 2));
  });
}

std::string ElapsedSerialToString(double elapsed) {
  return Guard(kGlobalSite, "Function: ElapsedSerialToString", [&] {
    struct Unit {
      size_t first, count;
      std::string_view text;
      bool plural;
    };
    static constexpr Unit kUnits[] = {{0, 2, "yr", true},  {2, 2, "mth", true}, {4, 2, "dy", true},
                                      {6, 2, "h", false},  {8, 2, "m", false},  {10, 2, "s", false},
                                      {12, 3, "ms", false}};
    const std::string digits = SerialDigits(elapsed);
    std::string result;
    for (const Unit &unit : kUnits) {
      const int16_t n = DigitsToInteger(digits, unit.first, unit.count);
      if (n <= 0) continue;
      if (!result.empty()) result.append(", ");
      result.append(std::to_string(n)).append(unit.text);
      if (unit.plural && n != 1) result.append(1, 's');
    }
    return result;
  });
}

float CorrelationOfGaps(const GapSums &sums) {
  // With the ramp x(k) = k * G / N and y(k) = x(k) + g(k), everything scaled by N and by n
  // so that whole-millisecond gaps give whole numbers:
  //   P = n * Sum((k - mk)^2), Q = n * Sum((k - mk)(g - mg)), R = n * Sum((g - mg)^2)
  //   Sxy ~ G * P + N * Q,  Sxx ~ G^2 * P,  Syy ~ G^2 * P + 2 G N Q + N^2 R.
  const long double n = sums.gaps;
  const long double N = n + 1;
  const long double G = sums.largest;
  if (G <= 0) return 0.0f;  // every gap 0: a flat ramp, Sxy is 0
  const long double P = n * n * (n * n - 1) / 12;
  const long double Q = n * sums.sumByPosition - n * (n + 1) / 2 * sums.sum;
  const long double R = n * sums.sumOfSquares - sums.sum * sums.sum;
  const long double numerator = G * P + N * Q;
  if (numerator == 0) return 0.0f;
  const long double spreadY = G * G * P + 2 * G * N * Q + N * N * R;
  const long double denominator = std::sqrt(P * spreadY);
  if (!(denominator > 0)) return 0.0f;
  double r = static_cast<double>(numerator / denominator);
  if (r > 1) r = 1;
  if (r < -1) r = -1;
  return static_cast<float>(r);
}

void GetBroswerAndVersion(const std::string &userAgent, std::string &browser,
                          std::string &version) {
  Guard(kGlobalSite, "Sub: GetBroswerAndVersion", [&] {
    auto trim = [](std::string_view text) {
      while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
      while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
      return std::string(text);
    };
    auto after = [&](std::string_view marker) {
      return std::string_view(userAgent).substr(userAgent.find(marker) + marker.size());
    };
    // The trimmed text before the first of the stops that occurs, tried in order.
    auto before = [&](std::string_view rest, std::string_view first, std::string_view second) {
      for (std::string_view stop : {first, second}) {
        size_t at = rest.find(stop);
        if (at != std::string_view::npos) return trim(rest.substr(0, at));
      }
      return std::string();
    };
    version.clear();
    if (userAgent.empty()) {
      browser.clear();
    } else if (userAgent.find("MSIE") != std::string::npos) {
      browser = "MSIE";
      version = before(trim(after("MSIE")), ";", ")");
    } else if (userAgent.find("Opera") != std::string::npos) {
      browser = "Opera";
      std::string_view rest = after("Opera");
      if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
      version = before(rest, ";", "*");
    } else if (userAgent.find("Mozilla/") != std::string::npos) {
      browser = "NS";
      std::string_view rest = after("Mozilla/");
      size_t at = rest.find('(');
      if (at != std::string_view::npos) version = trim(rest.substr(0, at));
    } else {
      browser = "Hybrid";
    }
  });
}

std::string GetTagValue(std::string_view line, std::string_view name) {
  return Guard(kGlobalSite, "Function: GetTagValue", [&] {
    // Positions are 16-bit and 1-based: anything that lies past 32767 overflows.
    constexpr size_t kLastPosition = 32767;
    std::string pattern(name);
    pattern.append("=\"");
    size_t match = line.find(pattern);
    if (match == std::string_view::npos) return std::string();
    if (match + 1 > kLastPosition) Raise(kGlobalSite, kOverflow);
    size_t start = match + name.size() + 2;  // 0-based index of the first value character
    if (start + 1 > kLastPosition) Raise(kGlobalSite, kOverflow);
    size_t close = line.find('"', start);
    if (close == std::string_view::npos) return std::string();
    if (close + 1 > kLastPosition) Raise(kGlobalSite, kOverflow);
    return std::string(line.substr(start, close - start));
  });
}

}  // namespace common
