#pragma once
#include "QiOption.h"
#include <atomic>

// Read-only integer the generator publishes (bit depth, black and white
// level); its owner fills the value in at run time.
class QiOptIntRo : public QiOption {
public:
    QiOptIntRo(const char *name, const char *description, int32_t value, const QiLayout &layout = {});
    bool describe(QiParams &out) const override;

    std::atomic<int32_t> value;
};
