// The MacroRecord form of a subtree: sizing, writing, reading and applying. Every walk keeps its
// own stack of frames on the heap instead of recursing, one frame per level of the tree.
#include <utility>
#include <vector>

#include "store/macro.h"
#include "store/sibling_index.h"

struct MacroRecordReader {
  // One node whose record is being read: its children are read one after the other.
  struct Frame {
    std::unique_ptr<CMVS5Macro> owned;  // null for the top node, which the caller owns
    CMVS5Macro* node;
    uint32_t children_left;
    platform::ReadCursor start;  // where the node's record begins
    SiblingIndex siblings;
  };

  // Reads the header and data of one record into `node`. On failure the cursor is unchanged.
  static bool ReadNode(platform::ReadCursor& cursor, bool may_be_empty, CMVS5Macro& node,
                       uint32_t& children, uint32_t& failure) {
    if (cursor.remaining() < MacroRecordHeaderSize) {
      failure = RecordTruncated;
      return false;
    }
    const std::byte* header = cursor.position();
    const uint32_t size = platform::LoadU32(header + 16);
    if (size == 0 && !may_be_empty) {
      failure = RecordEmptyData;
      return false;
    }
    if (size > cursor.remaining() - MacroRecordHeaderSize) {
      failure = RecordTruncated;
      return false;
    }
    node.guid_ = LoadGuid(header);
    children = platform::LoadU32(header + 20);
    std::span<const std::byte> data;
    cursor.Skip(MacroRecordHeaderSize);
    cursor.Bytes(size, data);
    node.SetData(data);
    return true;
  }

  static bool Read(platform::ReadCursor& cursor, uint32_t& failure, CMVS5Macro& top,
                   bool top_may_be_empty) {
    std::vector<Frame> frames;
    const platform::ReadCursor top_start = cursor;
    uint32_t children = 0;
    if (!ReadNode(cursor, top_may_be_empty, top, children, failure)) return false;
    frames.push_back({nullptr, &top, children, top_start, SiblingIndex(top)});
    while (true) {
      Frame& frame = frames.back();
      if (frame.children_left > 0) {
        --frame.children_left;
        auto child = std::make_unique<CMVS5Macro>();
        const platform::ReadCursor child_start = cursor;
        if (!ReadNode(cursor, false, *child, children, failure)) return false;
        CMVS5Macro* node = child.get();
        frames.push_back({std::move(child), node, children, child_start, SiblingIndex(*node)});
        continue;
      }
      if (frames.size() == 1) return true;
      // The frame's subtree is complete: only now is its GUID compared with its siblings', so a
      // failure inside the subtree takes precedence, as it would when reading depth first.
      Frame done = std::move(frames.back());
      frames.pop_back();
      Frame& parent = frames.back();
      if (parent.siblings.Find(done.node->guid_) != nullptr) {
        failure = RecordDuplicateGuid;
        cursor = done.start;
        return false;
      }
      parent.node->InsertChild(std::move(done.owned), -1);
    }
  }

  // Checks the header of one record against `node` and, unless `check_only`, takes its data.
  static bool ApplyNode(platform::ReadCursor& cursor, bool check_only, CMVS5Macro& node,
                        uint32_t& children) {
    if (cursor.remaining() < MacroRecordHeaderSize) return false;
    const std::byte* header = cursor.position();
    const uint32_t size = platform::LoadU32(header + 16);
    children = platform::LoadU32(header + 20);
    cursor.Skip(MacroRecordHeaderSize);
    std::span<const std::byte> data;
    if (!cursor.Bytes(size, data)) return false;
    if (node.parent_ != nullptr && size == 0) return false;
    if (!check_only) node.SetData(data);
    return true;
  }
};

uint64_t CMVS5Macro::RecordSize() const {
  uint64_t size = 0;
  std::vector<const CMVS5Macro*> pending{this};
  while (!pending.empty()) {
    const CMVS5Macro* node = pending.back();
    pending.pop_back();
    size += MacroRecordHeaderSize + uint64_t{node->data_size_};
    for (const auto& child : node->children_) pending.push_back(child.get());
  }
  return size;
}

void CMVS5Macro::WriteRecord(platform::WriteCursor& cursor) const {
  // Depth first with the children pushed last to first, so that they come out in child order.
  std::vector<const CMVS5Macro*> pending{this};
  while (!pending.empty()) {
    const CMVS5Macro* node = pending.back();
    pending.pop_back();
    cursor.Bytes(node->guid_.bytes.data(), node->guid_.bytes.size());
    cursor.U32(node->data_size_);
    cursor.U32(static_cast<uint32_t>(node->children_.size()));
    cursor.Bytes(node->data_.get(), node->data_size_);
    for (auto it = node->children_.rbegin(); it != node->children_.rend(); ++it) {
      pending.push_back(it->get());
    }
  }
}

bool CMVS5Macro::ApplyRecord(platform::ReadCursor& cursor, bool check_only) {
  struct Frame {
    CMVS5Macro* node;
    uint32_t children_left;
    SiblingIndex children;
  };
  std::vector<Frame> frames;
  uint32_t children = 0;
  if (!MacroRecordReader::ApplyNode(cursor, check_only, *this, children)) return false;
  frames.push_back({this, children, SiblingIndex(*this)});
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.children_left == 0) {
      frames.pop_back();
      continue;
    }
    --frame.children_left;
    if (cursor.remaining() < MacroRecordHeaderSize) return false;
    CMVS5Macro* child = frame.children.Find(LoadGuid(cursor.position()));
    if (child == nullptr) return false;
    if (!MacroRecordReader::ApplyNode(cursor, check_only, *child, children)) return false;
    frames.push_back({child, children, SiblingIndex(*child)});
  }
  return true;
}

std::unique_ptr<CMVS5Macro> ReadMacroRecord(platform::ReadCursor& cursor, uint32_t& failure) {
  auto node = std::make_unique<CMVS5Macro>();
  if (!MacroRecordReader::Read(cursor, failure, *node, false)) return nullptr;
  return node;
}

bool ReadMacroRecord(platform::ReadCursor& cursor, uint32_t& failure, CMVS5Macro& root) {
  return MacroRecordReader::Read(cursor, failure, root, true);
}
