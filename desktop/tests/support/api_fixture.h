#pragma once

#include "service/api_client.h"
#include "support/test_service.h"

#include <memory>

// A running test service and an api client pointed at it, fresh for every
// test. Mixed into a test class next to QObject; call the two from init()
// and cleanup().
class ApiFixture
{
protected:
    std::unique_ptr<TestService> service;
    std::unique_ptr<ApiClient> api;

    // False when the service did not come up.
    bool startFixture();
    void stopFixture();
};
