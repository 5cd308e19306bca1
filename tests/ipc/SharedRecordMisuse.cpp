// Uses of SharedRecord that must not compile, one per OKR_MISUSE value, and
// the same program used rightly (OKR_MISUSE unset), which must compile: so
// that each refusal is seen to come from the misuse and nothing else.

#include "ipc/SharedRecord"

#include <cstdint>
#include <string>

struct Plain {
    std::uint32_t value;
};

struct Owning {
    std::string text; // points into this process's heap
};

struct Virtual {
    virtual ~Virtual() = default;
    std::uint32_t value;
};

int main()
{
    using okr::ipc::SharedRecord;
#if OKR_MISUSE == 1
    auto record = SharedRecord<Owning>::create("okr-misuse");
#elif OKR_MISUSE == 2
    auto record = SharedRecord<Virtual>::create("okr-misuse");
#elif OKR_MISUSE == 3
    auto record = SharedRecord<Plain>::openReadOnly("okr-misuse");
    record.get()->value = 1;
#elif OKR_MISUSE == 4
    auto record = SharedRecord<const Plain>::create("okr-misuse");
#else
    auto record = SharedRecord<Plain>::create("okr-misuse");
    record.get()->value = SharedRecord<Plain>::openReadOnly("okr-misuse").get()->value;
#endif
    return record.get() != nullptr ? 0 : 1;
}
