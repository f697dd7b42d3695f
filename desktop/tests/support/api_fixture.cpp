#include "support/api_fixture.h"

bool ApiFixture::startFixture()
{
    service = std::make_unique<TestService>();
    if (!service->start())
        return false;
    api = std::make_unique<ApiClient>();
    api->setBaseUrl(service->baseUrl());
    return true;
}

void ApiFixture::stopFixture()
{
    // The client goes first: it may still be talking to the service.
    api.reset();
    service.reset();
}
