#pragma once
// Compile-time texts with numbered placeholders {0}, {1}, {2}.

#include <initializer_list>
#include <string>
#include <string_view>

namespace korvane {

// Replaces each {n} in `tmpl` by args[n], unchanged: no width, fill or
// quoting. A brace that does not open a placeholder of an existing argument
// is copied as it stands. Example: fill_template("v{0}!", {"0.2.0"}) == "v0.2.0!".
[[nodiscard]] std::string fill_template(std::string_view tmpl,
                                        std::initializer_list<std::string_view> args);

}  // namespace korvane
