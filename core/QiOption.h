#pragma once
#include "QiParams.h"
#include <cstdint>

// Layout hints a client uses to build an option form, and the visibility
// predicate it may evaluate. The generator only publishes them.
struct QiLayout {
    int32_t x = -1, y = -1, w = -1, h = -1;
    const char *onField = nullptr; // option this one depends on, e.g. "Style"
    const char *onValue = nullptr; // value of that option for which it applies
    bool logic = true;
};

// Base of the static option descriptors. Descriptors live for the whole
// program and are never copied.
class QiOption {
public:
    enum DataType : int32_t {
        Integer = 0,
        Boolean = 1,
        String = 2,
        Double = 3,
        Enumeration = 4,
        RGB = 5,
        RoInteger = 6,
    };

    QiOption(const char *name, const char *description, const QiLayout &layout = {})
        : QiOption(name, description, String, layout) {}
    virtual ~QiOption() = default;

    // Publishes the descriptor into out (keys "Name", "DataType", ...).
    virtual bool describe(QiParams &out) const;

    // True when a request key belongs to this descriptor: the exact name, or
    // for RGB descriptors any key starting with the name.
    bool matchesKey(const std::string &key) const;

    static const char *typeName(int32_t dataType);

    const char *name;
    const char *description;
    int32_t dataType;
    int32_t uiX, uiY, uiW, uiH;
    const char *uiPredicatesOnField;
    const char *uiPredicatesOnValue;
    bool uiPredicateLogic;

    QiOption(const QiOption &) = delete;
    QiOption &operator=(const QiOption &) = delete;

protected:
    QiOption(const char *name, const char *description, int32_t type, const QiLayout &layout);
};

// A null-terminated list of descriptor pointers, as renderers and the
// generator publish them.
using QiOptionList = const QiOption *const *;
