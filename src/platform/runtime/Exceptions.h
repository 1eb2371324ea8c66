#pragma once
// The framework's exception family. Every error the system raises is an Exception
// (or a subclass) carrying its display text; EAbort is the silent one.

#include <stdexcept>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

#define VT_DECLARE_EXCEPTION(Name, Base)                                                           \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    }

VT_DECLARE_EXCEPTION(EAbort, Exception);
VT_DECLARE_EXCEPTION(EListError, Exception);
VT_DECLARE_EXCEPTION(EStringListError, Exception);
VT_DECLARE_EXCEPTION(EConvertError, Exception);
VT_DECLARE_EXCEPTION(EStreamError, Exception);
VT_DECLARE_EXCEPTION(EReadError, EStreamError);
VT_DECLARE_EXCEPTION(EWriteError, EStreamError);
VT_DECLARE_EXCEPTION(EFOpenError, EStreamError);
VT_DECLARE_EXCEPTION(EFCreateError, EStreamError);
VT_DECLARE_EXCEPTION(EInvalidOperation, Exception);
VT_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
VT_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
VT_DECLARE_EXCEPTION(EOutOfResources, Exception);
VT_DECLARE_EXCEPTION(EOutOfMemory, Exception);
VT_DECLARE_EXCEPTION(EThread, Exception);
VT_DECLARE_EXCEPTION(EIniFileException, Exception);
VT_DECLARE_EXCEPTION(EComponentError, Exception);
