#include "core/template.h"

namespace korvane {

std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> args) {
  std::size_t total = tmpl.size();
  for (std::string_view a : args) total += a.size();
  std::string out;
  out.reserve(total);
  for (std::size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] == '{' && i + 2 < tmpl.size() && tmpl[i + 2] == '}' && tmpl[i + 1] >= '0' &&
        tmpl[i + 1] <= '9') {
      const auto n = static_cast<std::size_t>(tmpl[i + 1] - '0');
      if (n < args.size()) {
        out.append(args.begin()[n]);
        i += 2;
        continue;
      }
    }
    out.push_back(tmpl[i]);
  }
  return out;
}

}  // namespace korvane
