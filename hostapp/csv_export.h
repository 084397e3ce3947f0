// Export of a take's marker curves as CSV, for spreadsheets and analysis
// tools.
//
// One column group per marker model (FBModelMarker) the take recorded that
// has a translation curve in its base layer, in the order the take first
// recorded them (the take keeps its models, so the export does not depend
// on the scene's models now);
// one row per time at which any of them has a key. Columns: "time" in
// seconds on the take's time line, then "<label> x", "<label> y",
// "<label> z" per marker, in host units (the device has already scaled the
// server's lengths by 0.1). A marker without a key at a row's time leaves
// its three cells empty. Fields holding a comma, a quote or a line break
// are quoted (RFC 4180); numbers are written in the shortest form that
// reads back as the same double.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include <fbsdk/fbtake.h>
#include <fbsdk/fbtime.h>

namespace orbel::hostapp {

struct MarkerTable {
  std::vector<std::string> labels;
  std::vector<FBTime> times;
  // rows[i][m]: marker m at times[i], when it has a key there.
  std::vector<std::vector<std::optional<std::array<double, 3>>>> rows;
};

// subject: "" for every marker, else only markers in that namespace. Fails
// when no marker model has keys in the take.
bool CollectMarkerTable(FBTake& take, const std::string& subject, MarkerTable* table,
                        std::string* error);

std::string FormatCsv(const MarkerTable& table);

}  // namespace orbel::hostapp
