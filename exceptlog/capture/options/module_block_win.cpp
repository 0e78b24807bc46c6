#include "exceptlog/capture/options/module_block_win.h"

#include <cstring>
#include <mutex>
#include <optional>

#include "exceptlog/capture/options/module_identity_win.h"
#include "exceptlog/capture/options/shared_block_name.h"
#include "exceptlog/capture/options/shared_block_win.h"

namespace vellum::exceptlog {

namespace {

constexpr char kModuleBlockName[] = "MODULE";
constexpr std::uint8_t kNothingPublished = 0;

struct OwnBlock {
  std::mutex lock;
  std::optional<SharedBlock> block;
  // What the block holds now; nothing when it holds no publication.
  std::optional<std::vector<std::uint8_t>> published;
};

OwnBlock& Own() {
  static OwnBlock own;
  return own;
}

void CreateEmptyLocked(OwnBlock& own) {
  own.published.reset();
  own.block.reset();
  own.block = SharedBlock::Create(ModuleBlockName(ThisModuleHandle()), 1);
  own.block->Data()[0] = kNothingPublished;
}

}  // namespace

std::string ModuleBlockName(HMODULE module) {
  return SharedBlockName(GetCurrentProcessId(), reinterpret_cast<std::uintptr_t>(module), kModuleBlockName);
}

void CreateEmptyModuleBlock() {
  OwnBlock& own = Own();
  std::lock_guard guard(own.lock);
  CreateEmptyLocked(own);
}

void PublishModuleBlock(const std::vector<std::uint8_t>& image) {
  OwnBlock& own = Own();
  std::lock_guard guard(own.lock);
  // Every report makes the current options those of the module it is about,
  // which publishes them again, mostly unchanged: a new block for the same
  // bytes cost a report about a millisecond under Wine.
  if (own.block && own.published == image) return;
  // The old block goes first: while nobody else holds it, the name is free
  // for a block of the new size.
  own.published.reset();
  own.block.reset();
  try {
    own.block = SharedBlock::Create(ModuleBlockName(ThisModuleHandle()), static_cast<std::uint32_t>(image.size()));
  } catch (const ESharedBlockError&) {
    // A reader still holds the old, smaller block: readers must not go on
    // loading the previous publication, so it is withdrawn.
    CreateEmptyLocked(own);
    throw;
  }
  std::memcpy(own.block->Data(), image.data(), image.size());
  own.published = image;
}

void ReleaseModuleBlock() {
  OwnBlock& own = Own();
  std::lock_guard guard(own.lock);
  own.published.reset();
  own.block.reset();
}

TRuzadaModuleOptionsEx::Publisher ModuleBlockPublisher() {
  return [](const std::vector<std::uint8_t>& image) { PublishModuleBlock(image); };
}

bool LoadPublishedModuleOptions(HMODULE module, TRuzadaModuleOptions& options, std::uint16_t version) {
  const std::optional<SharedBlock> block = SharedBlock::Open(ModuleBlockName(module));
  if (!block || block->Size() == 0 || block->Data()[0] != 1) return false;
  // A copy, so that a publisher rewriting the block cannot change it mid-read.
  MemoryStream stream(std::vector<std::uint8_t>(block->Data() + 1, block->Data() + block->Size()));
  options.LoadFromStream(stream, version);
  return true;
}

}  // namespace vellum::exceptlog
