// Feeds request bodies to the decoder and to the service's request handler.
// A decoded request must encode to a body that decodes the same way, and the
// handler must refuse every body the decoder refuses.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/Protocol.h"
#include "driver/Service.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kv::driver;
    static Service service(OptionsFor("", ""));
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    Request request;
    std::string error;
    const bool decoded = DecodeRequest(body, &request, &error);
    if (decoded) {
        // Texts that shared bytes in the input are copied apart, so the
        // encoded body can outgrow the limit; only smaller ones must decode.
        const std::string frame = EncodeRequest(request);
        Request again;
        if (frame.size() - 4 <= kMaxFrameBody) {
            if (!DecodeRequest(std::string_view(frame).substr(4), &again, &error))
                std::abort();
            if (again.code != request.code || again.password != request.password ||
                again.record.FileMask != request.record.FileMask ||
                again.record.ExcludeProc != request.record.ExcludeProc ||
                again.path != request.path || again.process != request.process)
                std::abort();
        }
    }
    // Alternate between root (who may select another uid's table) and a user.
    const uid_t caller = size % 2 == 0 ? 0 : 1000;
    if (service.HandleBody(body, caller).success && !decoded)
        std::abort();
    for (auto& [uid, table] : service.Tables().All()) {
        if (table.Count() > 1000)
            table.Clear();
    }
    return 0;
}
