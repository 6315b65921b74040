#pragma once

// Registers the contract's types with Qt's meta-type system so that they can
// travel through queued connections. Idempotent; call before connecting.
void registerSdkMetaTypes();
