#include "app/cli/cli_options.h"

#include <charconv>
#include <filesystem>
#include <system_error>

#include "support/text.h"

namespace {

// A whole decimal integer (optional minus sign), nothing else.
bool ParseInt(const std::string& text, std::int32_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

bool SetKinds(const std::string& list, CCliOptions& options,
              std::string& error) {
  options.etf = options.reit = options.prime = false;
  options.standard = options.growth = options.other = false;
  const std::vector<std::string> kinds = StringSplit(list, ",");
  if (kinds.empty()) {
    error = "--kinds needs at least one of etf,reit,prime,standard,growth,other";
    return false;
  }
  for (const std::string& kind : kinds) {
    if (kind == "etf") options.etf = true;
    else if (kind == "reit") options.reit = true;
    else if (kind == "prime") options.prime = true;
    else if (kind == "standard") options.standard = true;
    else if (kind == "growth") options.growth = true;
    else if (kind == "other") options.other = true;
    else {
      error = "unknown kind '" + kind +
              "' (kinds: etf,reit,prime,standard,growth,other)";
      return false;
    }
  }
  return true;
}

}  // namespace

std::string CliUsage() {
  return "Usage: tickora-setup-cli [options] FOLDER\n"
         "Builds a Tickora database in FOLDER (stock.mdb, daily/, margin/).\n"
         "\n"
         "  --from-year YEAR     first year of the price series, 2000 to this year (2010)\n"
         "  --kinds LIST         kinds of issues, comma-separated:\n"
         "                       etf,reit,prime,standard,growth,other (prime)\n"
         "  --no-splits          do not download split data\n"
         "  --margin             also download margin balances\n"
         "  --no-archive         read the finance pages instead of the bulk archive\n"
         "  --gap-tolerance N    issues with a missing trading day that the quick\n"
         "                       price file accepts (20)\n"
         "  --resume             continue the interrupted setup kept in FOLDER, with\n"
         "                       its own choices and period\n"
         "  --update             bring the finished setup in FOLDER to today with the\n"
         "                       choices it was made with, adding only what is new\n"
         "  --quiet              print no progress\n"
         "  --help               print this text\n"
         "  --version            print the version\n"
         "\n"
         "Ctrl-C stops the run at the next issue (exit status 130); a failed run\n"
         "exits with 1, bad options with 2. Both leave the run's position in FOLDER\n"
         "for --resume; a new run into such a folder is refused.\n";
}

bool ParseCliOptions(const std::vector<std::string>& args,
                     std::int32_t currentYear, CCliOptions& options,
                     std::string& error) {
  options = CCliOptions();
  std::vector<std::string> folders;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      folders.push_back(arg);
      continue;
    }
    std::string value;
    bool has_value = false;
    const std::size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
      has_value = true;
    }
    const bool takes_value = arg == "--from-year" || arg == "--kinds" ||
                             arg == "--gap-tolerance";
    if (takes_value && !has_value) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      value = args[++i];
      has_value = true;
    } else if (!takes_value && has_value) {
      error = arg + " takes no value";
      return false;
    }

    if (arg == "--help") {
      options.help = true;
      return true;
    } else if (arg == "--version") {
      options.version = true;
      return true;
    } else if (arg == "--from-year") {
      if (!ParseInt(value, options.fromYear) || options.fromYear < 2000 ||
          options.fromYear > currentYear) {
        error = "--from-year must be a year from 2000 to " +
                std::to_string(currentYear) + ", not '" + value + "'";
        return false;
      }
      options.fromYearGiven = true;
    } else if (arg == "--kinds") {
      if (!SetKinds(value, options, error)) return false;
      options.kindsGiven = true;
    } else if (arg == "--gap-tolerance") {
      if (!ParseInt(value, options.gapTolerance) || options.gapTolerance < 0) {
        error = "--gap-tolerance must be a whole number of 0 or more, not '" +
                value + "'";
        return false;
      }
      options.gapToleranceGiven = true;
    } else if (arg == "--no-splits") {
      options.splits = false;
      options.splitsGiven = true;
    } else if (arg == "--margin") {
      options.margin = true;
      options.marginGiven = true;
    } else if (arg == "--no-archive") {
      options.archive = false;
      options.archiveGiven = true;
    } else if (arg == "--resume") {
      options.resume = true;
    } else if (arg == "--update") {
      options.update = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else {
      error = "unknown option '" + arg + "' (see --help)";
      return false;
    }
  }
  // An update goes by the folder's record of its setup: choices on the
  // command line would make another folder than the setup's.
  if (options.update &&
      (options.resume || options.fromYearGiven || options.kindsGiven || options.splitsGiven ||
       options.marginGiven || options.archiveGiven || options.gapToleranceGiven)) {
    error = "--update takes the choices of the folder's setup: give it with --quiet alone";
    return false;
  }
  if (folders.size() != 1) {
    error = folders.empty() ? "no database FOLDER given (see --help)"
                            : "only one FOLDER may be given";
    return false;
  }
  options.folder = folders.front();
  std::error_code ec;
  if (std::filesystem::exists(options.folder, ec) &&
      !std::filesystem::is_directory(options.folder, ec)) {
    error = "'" + options.folder + "' exists and is not a folder";
    return false;
  }
  // Only the folder itself is made by the run; its parent has to be there.
  const std::filesystem::path parent =
      std::filesystem::absolute(options.folder, ec).parent_path();
  if (!std::filesystem::is_directory(parent, ec)) {
    error = "the folder above '" + options.folder + "' does not exist";
    return false;
  }
  return true;
}

bool TakeResumeChoices(const CResumePosition& position, CCliOptions& options,
                       std::string& error) {
  const CRunChoices& c = position.choices;
  const bool same_kinds = options.etf == c.etf && options.reit == c.reit &&
                          options.prime == c.prime && options.standard == c.standard &&
                          options.growth == c.growth && options.other == c.otherMarkets;
  const char* clash = nullptr;
  if (options.fromYearGiven &&
      options.fromYear != static_cast<std::int32_t>(position.firstDate.year)) {
    clash = "--from-year";
  } else if (options.kindsGiven && !same_kinds) {
    clash = "--kinds";
  } else if (options.splitsGiven && c.splits) {
    clash = "--no-splits";
  } else if (options.marginGiven && !c.margin) {
    clash = "--margin";
  } else if (options.archiveGiven && c.useArchive) {
    clash = "--no-archive";
  }
  if (clash != nullptr) {
    error = std::string(clash) +
            " differs from the interrupted setup; --resume continues it with its own choices";
    return false;
  }
  options.fromYear = static_cast<std::int32_t>(position.firstDate.year);
  options.etf = c.etf;
  options.reit = c.reit;
  options.prime = c.prime;
  options.standard = c.standard;
  options.growth = c.growth;
  options.other = c.otherMarkets;
  options.splits = c.splits;
  options.margin = c.margin;
  options.archive = c.useArchive;
  return true;
}
