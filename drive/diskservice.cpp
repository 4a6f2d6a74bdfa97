// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/diskservice.h"

namespace vokta {

std::unique_ptr<DiskService> ShareService(std::shared_ptr<DiskService> service)
{
    return std::make_unique<ForwardingService>(std::move(service));
}

}  // namespace vokta
