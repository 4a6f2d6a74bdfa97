#include "drive/diskservice.h"

namespace vokta {
namespace {

class SharedService final : public DiskService {
public:
    explicit SharedService(std::shared_ptr<DiskService> s) : service_(std::move(s)) {}
    bool DeviceIoControl(DiskRequest& r) override { return service_->DeviceIoControl(r); }
    bool IsDriveReady() override { return service_->IsDriveReady(); }
    bool InstallParameterTable(const DisketteParameterTable& t) override
    {
        return service_->InstallParameterTable(t);
    }
    bool RestoreParameterTable() override { return service_->RestoreParameterTable(); }
    bool LayoutHonoured() const override { return service_->LayoutHonoured(); }
    bool Flush(std::string& reason) override { return service_->Flush(reason); }

private:
    std::shared_ptr<DiskService> service_;
};

}  // namespace

std::unique_ptr<DiskService> ShareService(std::shared_ptr<DiskService> service)
{
    return std::make_unique<SharedService>(std::move(service));
}

}  // namespace vokta
