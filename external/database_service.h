// CDatabaseService: the process-wide IDatabaseService, which opens SQLite databases.
#pragma once

#include "browserplatform/atlcom.h"
#include "browserstorage/database_service.h"

namespace Util {

class CDatabaseService : public IDatabaseService,
                         public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CDatabaseService)
  COM_INTERFACE_ENTRY(IDatabaseService)
  END_COM_MAP()

  CDatabaseService() = default;
  CDatabaseService(const CDatabaseService&) = delete;
  CDatabaseService& operator=(const CDatabaseService&) = delete;

  // The one instance of the process, never destroyed.
  static IDatabaseService* Instance();

  STDMETHODIMP OpenDatabase(const char* path, IDatabaseConnection** out) override;
};

}  // namespace Util
