#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// The samples of every figure over the rounds, their medians, the targets they are held to, and
// the report: a table for people and one JSON line for programs.
namespace bench {

class Figures {
public:
    void add(const std::string& name, double value) { samples_[name].push_back(value); }
    void note(const std::string& text) { notes_.push_back(text); }
    std::optional<double> median(const std::string& name) const;

    // Prints the table and answers the JSON report.
    nlohmann::json report(std::ostream& table, const nlohmann::json& context) const;

private:
    std::map<std::string, std::vector<double>> samples_;
    std::vector<std::string> notes_;
};

}  // namespace bench
