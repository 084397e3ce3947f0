#include "csv_export.h"

#include <cstdio>
#include <map>
#include <set>

#include <fbsdk/fbanimation.h>

#include "take_curves.h"

namespace orbel::hostapp {

namespace {

constexpr int kBaseLayer = 0;

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string TimeText(FBTime time) {
  // Ticks are exact; nine decimals show every whole microsecond exactly.
  char text[40];
  std::snprintf(text, sizeof text, "%.9f", time.GetSecondDouble());
  return text;
}

}  // namespace

bool CollectMarkerTable(FBTake& take, const std::string& subject, MarkerTable* table,
                        std::string* error) {
  *table = MarkerTable();
  const std::set<std::string> curves = CurveNames(take, kBaseLayer);
  std::vector<std::vector<FBTakeKey>> keysOf;
  for (const FBTakeModel& model : take.GetModels()) {
    if (model.kind != "Marker") continue;
    const std::string& label = model.label;
    if (!subject.empty() && NamespaceOf(label) != subject) continue;
    std::vector<FBTakeKey> keys =
        RecordedKeys(take, curves, label, kFBDataTypeTranslation, kBaseLayer);
    if (keys.empty()) continue;
    table->labels.push_back(label);
    keysOf.push_back(std::move(keys));
  }
  if (table->labels.empty()) {
    if (error != nullptr) {
      *error = "no marker model" +
               (subject.empty() ? std::string() : " of subject '" + subject + "'") +
               " has keys in take '" + take.GetLabelName().str() +
               "' (record with the device armed, bound and streaming labelled markers)";
    }
    return false;
  }
  std::set<FBTime> times;
  for (const auto& keys : keysOf) {
    for (const FBTakeKey& key : keys) times.insert(key.time);
  }
  table->times.assign(times.begin(), times.end());
  std::map<FBTime, std::size_t> rowOf;
  for (std::size_t i = 0; i < table->times.size(); ++i) rowOf[table->times[i]] = i;
  table->rows.assign(table->times.size(),
                     std::vector<std::optional<std::array<double, 3>>>(table->labels.size()));
  for (std::size_t m = 0; m < keysOf.size(); ++m) {
    for (const FBTakeKey& key : keysOf[m]) {
      table->rows[rowOf[key.time]][m] =
          std::array<double, 3>{key.value[0], key.value[1], key.value[2]};
    }
  }
  return true;
}

std::string FormatCsv(const MarkerTable& table) {
  std::string out = "time";
  for (const std::string& label : table.labels) {
    for (const char* axis : {" x", " y", " z"}) out += "," + CsvField(label + axis);
  }
  out += "\n";
  for (std::size_t i = 0; i < table.times.size(); ++i) {
    out += TimeText(table.times[i]);
    for (const auto& cell : table.rows[i]) {
      for (int axis = 0; axis < 3; ++axis) {
        out += ',';
        if (cell) out += FormatDouble((*cell)[axis]);
      }
    }
    out += "\n";
  }
  return out;
}

}  // namespace orbel::hostapp
