#include "format/listing_json.h"

#include <array>
#include <nlohmann/json.hpp>

#include "format/listing_words.h"
#include "format/room_words.h"
#include "text/d88_text.h"

namespace format {

using namespace disk;

namespace {

using Json = nlohmann::ordered_json;

const char* walkEndKey(d88::WalkEnd end) {
  switch (end) {
    case d88::WalkEnd::CountReached:
      return "countReached";
    case d88::WalkEnd::ZeroCount:
      return "zeroCount";
    case d88::WalkEnd::CutShort:
      return "cutShort";
    case d88::WalkEnd::Stopped:
      // The listing's walks have room for every record (listTrack): a walk
      // that still stops is a fault there, named rather than passed off.
      return "stopped";
    case d88::WalkEnd::NoTrack:
      break;
  }
  return "noTrack";
}

// The fields of a record, in the order each record's array holds them.
constexpr std::array<const char*, 10> kRecordFields{
    "c",       "h",           "r",      "n",          "sectorCount",
    "density", "deletedMark", "status", "dataLength", "position"};

// Records are the bulk of a listing (16 or so per track): each is an array of
// numbers in the order of kRecordFields, built in one allocation and moved,
// which keeps the listing about as fast as the extraction and a third of the
// size of objects with named fields.
Json recordJson(const d88::SectorRecordInfo& record) {
  Json json(Json::value_t::array);
  auto& fields = json.get_ref<Json::array_t&>();
  fields.reserve(kRecordFields.size());
  fields.emplace_back(record.id.c);
  fields.emplace_back(record.id.h);
  fields.emplace_back(record.id.r);
  fields.emplace_back(record.id.n);
  fields.emplace_back(record.sectorCount);
  fields.emplace_back(record.density);
  fields.emplace_back(record.deletedMark);
  fields.emplace_back(record.status);
  fields.emplace_back(record.dataLength);
  fields.emplace_back(record.position);
  return json;
}

Json trackJson(const TrackListing& track) {
  Json json{{"slot", track.slot},
            {"cylinder", d88::cylinderOfSlot(track.slot)},
            {"head", d88::headOfSlot(track.slot)},
            {"offset", track.storedOffset},
            {"insideHeader", track.insideHeader},
            {"pastSize", track.pastSize},
            {"walkEnd", walkEndKey(track.walkEnd)}};
  Json records = Json::array();
  records.get_ref<Json::array_t&>().reserve(track.records.size());
  for (const d88::SectorRecordInfo& record : track.records) {
    records.push_back(recordJson(record));
  }
  json["records"] = std::move(records);
  return json;
}

// Where a file lies, and whether it is written without -a.
Json filePlaceJson(const DiskFile& file) {
  return Json{{"name", file.name.data()}, {"track", file.track},
              {"sector", file.r},         {"offset", file.offset},
              {"size", file.size},        {"writtenWithoutAll", file.writtenWithoutAll}};
}

Json fileJson(const FileListing& listing) {
  Json json = filePlaceJson(listing.file);
  const VerdictWords& words = verdictWords(listing.verdict);
  json["verdict"] = words.verdict;
  if (listing.verdict == FileVerdict::Incomplete) {
    json["bytesRead"] = listing.bytesRead;
  }
  if (words.reason != nullptr) {
    json["reason"] = words.reason;
  }
  return json;
}

// The header's fields; the name decoded as the JSON or, `quoted`, as the
// text listing writes it.
Json headerJson(const DiskListing& disk, bool quoted) {
  Json json{
      {"index", disk.index}, {"offset", disk.offset}, {"headerComplete", disk.headerComplete}};
  if (disk.headerComplete) {
    json["name"] = decodedDiskName(disk, quoted);
    json["nameHex"] = d88text::hexText(disk.nameField.data(), disk.nameField.size());
    json["writeProtect"] = disk.writeProtect;
    json["mediaType"] = disk.mediaType;
    json["media"] = mediaName(disk.mediaType);
    json["sizeField"] = disk.sizeField;
  }
  return json;
}

Json filesJson(const DiskListing& disk) {
  Json files = Json::array();
  for (const FileListing& file : disk.files) {
    files.push_back(fileJson(file));
  }
  return files;
}

void addKind(Json& json, const DiskListing& disk) {
  json["kind"] = layoutOf(disk.kind).announcement.listingName;
  const std::string message = recognitionText(disk.kind);
  json["message"] = message.empty() ? Json(nullptr) : Json(message);
}

// Names are decoded text with \xNN escapes, so valid UTF-8; replace is a
// guard, not a path taken.
std::string dumped(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string jsonRecordFieldsText() {
  return Json(kRecordFields).dump();
}

std::string jsonDocumentStart() {
  return "{\"schema\":" + std::to_string(kJsonSchemaVersion) +
         ",\"recordFields\":" + jsonRecordFieldsText() + ",\"disks\":[\n";
}

std::string jsonDocumentEnd() {
  return "\n]}\n";
}

std::string formatDiskJson(const DiskListing& disk) {
  Json json = headerJson(disk, false);
  if (disk.headerComplete) {
    Json tracks = Json::array();
    for (const TrackListing& track : disk.tracks) {
      tracks.push_back(trackJson(track));
    }
    json["tracks"] = std::move(tracks);
    addKind(json, disk);
    json["files"] = filesJson(disk);
    Json rooms = Json::array();
    for (const TableRoom& room : disk.rooms) {
      const AddressPlace end = placeOfAddress(room.end);
      rooms.push_back(room.measured ? Json{{"end", room.end},
                                           {"track", end.track},
                                           {"r", end.r},
                                           {"offset", end.offset},
                                           {"room", room.room},
                                           {"blank", room.blank},
                                           {"roomEnds", roomReasonText(room.stop)},
                                           {"sizesFixed", room.fixed}}
                                    : Json(nullptr));
    }
    json["tables"] = std::move(rooms);
  }
  return dumped(json);
}

std::string formatDiskHeaderJson(const DiskListing& disk) {
  Json json = headerJson(disk, true);
  if (disk.headerComplete) {
    addKind(json, disk);
    Json files = Json::array();
    for (const FileListing& file : disk.files) {
      files.push_back(filePlaceJson(file.file));
    }
    json["files"] = std::move(files);
  }
  return dumped(json);
}

std::string formatFilesJson(const DiskListing& disk) {
  return dumped(filesJson(disk));
}

}  // namespace format
