// libFuzzer target: any bytes as the external engine's output. The view's
// batches end with the storage's newest record, bring the old version of
// each new record but the newest, and mark as weak what the corrector
// changed; nothing is raised.
#include <cstdint>
#include <cstdlib>

#include "links/xmmt_interface.h"

namespace {

using namespace brenvo;

void Check(bool ok) {
  if (!ok) std::abort();
}

class TView final : public IMessageView {
 public:
  const TXmmtInterface* Link = nullptr;
  void PutText(const TCharInfoArray& New, const TCharInfoArray& Old) override {
    Check(!New.empty() && Old.size() == New.size() - 1);
    Check(New.back().RawCh == Link->Ms().Char(Link->Ms().HiChar()).RawCh);
    for (const TCharInfo& r : New) Check(r.CorrCh == r.RawCh || r.CorrFlags.Has(cfWeak));
  }
  void PutQsxBar(int32_t) override {}
  TFreezeState FreezeState() const override { return {}; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TView view;
  TXmmtInterface link(&view);
  view.Link = &link;
  for (size_t i = 0; i < size; ++i) link.XmmrCharRcvd(data[i]);
  return 0;
}
