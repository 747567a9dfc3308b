#!/usr/bin/python3
"""Writes a PyTorch model into the inference engine's model file.

Use as a module:

    import export_model
    export_model.export(model, "dnn-model-source0.model")   # or to_bytes(model)

or from the command line, on a whole module saved with torch.save:

    export_model.py model.pt out.model

The model is an nn.Sequential (nested ones are walked in order) or a single
module. Modules map to engine layers as follows; anything else is refused
with an ExportError that names the module.

    Linear                 dense layer, weights [units, inputs]
    Conv1d                 1-D convolution, weights [filters, kernel, channels]
    Conv2d                 2-D convolution, weights [filters, rows, columns, channels]
    BatchNorm1d (eval)     batch normalisation, w = gamma / sqrt(var + eps),
                           b = beta - mean * w
    LSTM                   one LSTM layer per torch layer, gates i, f, g, o,
                           biases b_ih + b_hh, every step's hidden state returned
                           (the engine drops the step dimension of a one-step
                           sequence, so stacked layers need two steps or more)
    Flatten                flatten
    MaxPool2d              max pooling (stride equal to the kernel, no padding)
    Embedding              embedding
    ReLU ELU Softplus Softsign Sigmoid Tanh Softmax
                           activations; one directly after a Linear or Conv
                           layer is folded into that layer
    Dropout Identity       left out (no-ops in evaluation)

The engine's tensors are unbatched and channels-last: a Conv1d input is
[steps, channels] (torch: [channels, steps]), a Conv2d or MaxPool2d input is
[rows, columns, channels] (torch: [channels, rows, columns]), an LSTM input is
[steps, inputs]. The engine's softmax runs over all elements of its input.
So after a Conv1d, Conv2d or MaxPool2d, whose outputs torch flattens channels
first, a Flatten is refused, and after any of these, an LSTM or an Embedding
(multi-dimensional outputs) so are a Softmax, a Linear and a BatchNorm1d,
which torch would apply along one dimension.
"""

import argparse
import struct
import sys

import torch
from torch import nn

LAYER_DENSE = 1
LAYER_CONV1D = 2
LAYER_CONV2D = 3
LAYER_FLATTEN = 6
LAYER_ELU = 7
LAYER_ACTIVATION = 8
LAYER_MAXPOOL2D = 9
LAYER_LSTM = 10
LAYER_EMBEDDING = 11
LAYER_BATCHNORM = 12

ACT_LINEAR = 1
ACT_RELU = 2
ACT_ELU = 3
ACT_SOFTPLUS = 4
ACT_SOFTSIGN = 5
ACT_SIGMOID = 6
ACT_TANH = 7
ACT_SOFTMAX = 9


class ExportError(Exception):
    """A module that the model file cannot express."""


def _u32(value):
    return struct.pack("<I", value)


def _f32(value):
    return struct.pack("<f", value)


def _tensor(name, t, dims=None):
    """A tensor record: each dimension as uint32, then the floats row-major."""
    t = t.detach().to(torch.float32).contiguous()
    if dims is not None:
        t = t.reshape(dims)
    if t.dim() == 0 or any(d == 0 for d in t.shape):
        raise ExportError(f"{name}: a tensor of dims {list(t.shape)} cannot be stored")
    if any(d >= 2**32 for d in t.shape):
        raise ExportError(f"{name}: a dimension of {list(t.shape)} exceeds 32 bits")
    out = b"".join(_u32(d) for d in t.shape)
    return out + t.numpy().astype("<f4").tobytes()


def _refuse(name, module, why):
    raise ExportError(f"cannot express module '{name}' ({type(module).__name__}): {why}")


def _pair(v):
    return tuple(v) if isinstance(v, (tuple, list)) else (v, v)


def _activation_id(name, module):
    """The activation record of module, or None when it is not an activation."""
    if isinstance(module, nn.ReLU):
        return ACT_RELU
    if isinstance(module, nn.ELU):
        return ACT_ELU if module.alpha == 1.0 else None
    if isinstance(module, nn.Softplus):
        if module.beta != 1:
            _refuse(name, module, f"beta {module.beta} (only 1 is supported)")
        if module.threshold != 20:
            # torch turns linear above the threshold; the engine never does.
            _refuse(name, module, f"threshold {module.threshold} (only 20 is supported)")
        return ACT_SOFTPLUS
    if isinstance(module, nn.Softsign):
        return ACT_SOFTSIGN
    if isinstance(module, nn.Sigmoid):
        return ACT_SIGMOID
    if isinstance(module, nn.Tanh):
        return ACT_TANH
    if isinstance(module, nn.Softmax):
        if module.dim not in (None, 0, -1):
            _refuse(name, module, f"dim {module.dim} (the engine's softmax spans its whole input)")
        return ACT_SOFTMAX
    return None


def _leaves(name, module):
    """The modules of a (nested) Sequential in call order, no-ops left out."""
    if isinstance(module, nn.Sequential):
        for child_name, child in module.named_children():
            yield from _leaves(f"{name}.{child_name}" if name else child_name, child)
    elif isinstance(module, (nn.Dropout, nn.Identity)):
        return
    else:
        yield name or type(module).__name__, module


def _check_conv(name, m, dims):
    if m.groups != 1:
        _refuse(name, m, f"groups {m.groups}")
    if tuple(m.stride) != (1,) * dims:
        _refuse(name, m, f"stride {tuple(m.stride)}")
    if tuple(m.dilation) != (1,) * dims:
        _refuse(name, m, f"dilation {tuple(m.dilation)}")
    if isinstance(m.padding, str):
        if m.padding != "valid":
            _refuse(name, m, f"padding '{m.padding}'")
    elif tuple(m.padding) != (0,) * dims:
        _refuse(name, m, f"padding {tuple(m.padding)}")


def _bias(m, count):
    return m.bias if m.bias is not None else torch.zeros(count)


class _Weighted:
    """A dense or convolution layer waiting for an activation to fold in."""

    def __init__(self, layer_id, payload):
        self.layer_id = layer_id
        self.payload = payload
        self.activation = ACT_LINEAR

    def record(self):
        return _u32(self.layer_id) + self.payload + _u32(self.activation)


def _weighted(name, m):
    if isinstance(m, nn.Linear):
        w = m.weight  # [out, in] is already [units, inputs]
        return _Weighted(
            LAYER_DENSE,
            _tensor(f"{name}.weight", w) + _tensor(f"{name}.bias", _bias(m, w.shape[0])),
        )
    if isinstance(m, nn.Conv1d):
        _check_conv(name, m, 1)
        w = m.weight.permute(0, 2, 1)  # [out, in, k] -> [filters, kernel, channels]
        return _Weighted(
            LAYER_CONV1D,
            _tensor(f"{name}.weight", w) + _tensor(f"{name}.bias", _bias(m, w.shape[0])),
        )
    if isinstance(m, nn.Conv2d):
        _check_conv(name, m, 2)
        w = m.weight.permute(0, 2, 3, 1)  # [out, in, kh, kw] -> [filters, kh, kw, channels]
        return _Weighted(
            LAYER_CONV2D,
            _tensor(f"{name}.weight", w) + _tensor(f"{name}.bias", _bias(m, w.shape[0])),
        )
    return None


def _batchnorm(name, m):
    if m.running_mean is None or m.running_var is None:
        _refuse(name, m, "no running statistics (track_running_stats=False)")
    mean = m.running_mean.detach().double()
    var = m.running_var.detach().double()
    gamma = m.weight.detach().double() if m.weight is not None else torch.ones_like(mean)
    beta = m.bias.detach().double() if m.bias is not None else torch.zeros_like(mean)
    w = gamma / torch.sqrt(var + m.eps)
    b = beta - mean * w
    return (
        _u32(LAYER_BATCHNORM)
        + _tensor(f"{name}.scale", w.float())
        + _tensor(f"{name}.offset", b.float())
    )


def _lstm(name, m):
    if m.bidirectional:
        _refuse(name, m, "bidirectional")
    if getattr(m, "proj_size", 0):
        _refuse(name, m, f"proj_size {m.proj_size}")
    units = m.hidden_size
    records = []
    for layer in range(m.num_layers):
        w_ih = getattr(m, f"weight_ih_l{layer}").detach()
        w_hh = getattr(m, f"weight_hh_l{layer}").detach()
        if m.bias:
            b = getattr(m, f"bias_ih_l{layer}").detach() + getattr(m, f"bias_hh_l{layer}").detach()
        else:
            b = torch.zeros(4 * units)
        # torch stacks the gates as (i, f, g, o); the record wants w, u, b per gate.
        payload = b""
        for gate, label in enumerate("ifco"):
            rows = slice(gate * units, (gate + 1) * units)
            payload += _tensor(f"{name}.w{label}", w_ih[rows])
            payload += _tensor(f"{name}.u{label}", w_hh[rows])
            payload += _tensor(f"{name}.b{label}", b[rows], (1, units))
        payload += _u32(ACT_SIGMOID) + _u32(ACT_TANH) + _u32(1)
        records.append(_u32(LAYER_LSTM) + payload)
    return records


def _pool(name, m):
    kernel = _pair(m.kernel_size)
    stride = _pair(m.stride if m.stride is not None else m.kernel_size)
    if stride != kernel:
        _refuse(name, m, f"stride {stride} differs from the kernel {kernel}")
    if _pair(m.padding) != (0, 0) or _pair(m.dilation) != (1, 1):
        _refuse(name, m, "padding or dilation")
    if m.ceil_mode or m.return_indices:
        _refuse(name, m, "ceil_mode or return_indices")
    return _u32(LAYER_MAXPOOL2D) + _u32(kernel[0]) + _u32(kernel[1])


# Modules whose output is multi-dimensional in the engine; the first three
# lay it out channels-last where torch has it channels-first.
_CHANNELS_FIRST = (nn.Conv1d, nn.Conv2d, nn.MaxPool2d)
_MULTI_DIMENSIONAL = _CHANNELS_FIRST + (nn.LSTM, nn.Embedding)


def _check_layout(name, m, shaper):
    """Refuses a module that would read the multi-dimensional output of the
    module `shaper` (a (name, module) pair, or None) differently from torch."""
    if shaper is None:
        return
    what = f"after '{shaper[0]}' ({type(shaper[1]).__name__})"
    if isinstance(m, nn.Flatten) and isinstance(shaper[1], _CHANNELS_FIRST):
        _refuse(name, m, f"{what}: torch flattens channels first, the engine channels last")
    if isinstance(m, nn.Softmax):
        _refuse(name, m, f"{what}: the engine's softmax spans all elements, not one dimension")
    if isinstance(m, nn.Linear):
        _refuse(name, m, f"{what}: the engine's dense layer takes a one-dimensional input")
    if isinstance(m, nn.BatchNorm1d):
        _refuse(name, m, f"{what}: the engine normalises a one-dimensional input element-wise")


def to_bytes(model):
    """The model file for model (an nn.Module) as bytes; raises ExportError."""
    if not isinstance(model, nn.Module):
        raise ExportError(f"not a torch module: {type(model).__name__}")
    records = []
    pending = None  # weighted layer that may still take an activation
    shaper = None  # (name, module) that made the output multi-dimensional

    def flush():
        nonlocal pending
        if pending is not None:
            records.append(pending.record())
            pending = None

    with torch.no_grad():
        for name, m in _leaves("", model):
            _check_layout(name, m, shaper)
            if isinstance(m, _MULTI_DIMENSIONAL):
                shaper = (name, m)
            elif isinstance(m, (nn.Flatten, nn.Linear)):
                shaper = None
            act = _activation_id(name, m)
            if act is not None:
                if pending is not None and pending.activation == ACT_LINEAR:
                    pending.activation = act
                    flush()
                else:
                    flush()
                    records.append(_u32(LAYER_ACTIVATION) + _u32(act))
                continue
            flush()
            weighted = _weighted(name, m)
            if weighted is not None:
                pending = weighted
            elif isinstance(m, nn.ELU):  # alpha other than 1
                records.append(_u32(LAYER_ELU) + _f32(m.alpha))
            elif isinstance(m, nn.BatchNorm1d):
                if m.training:
                    _refuse(name, m, "in training mode (call model.eval() first)")
                records.append(_batchnorm(name, m))
            elif isinstance(m, nn.LSTM):
                records.extend(_lstm(name, m))
            elif isinstance(m, nn.Flatten):
                records.append(_u32(LAYER_FLATTEN))
            elif isinstance(m, nn.MaxPool2d):
                records.append(_pool(name, m))
            elif isinstance(m, nn.Embedding):
                if m.max_norm is not None:
                    _refuse(name, m, "max_norm")
                records.append(_u32(LAYER_EMBEDDING) + _tensor(f"{name}.weight", m.weight))
            else:
                _refuse(name, m, "no engine layer does this")
        flush()
    if not records:
        raise ExportError("the model holds no layer")
    return _u32(len(records)) + b"".join(records)


def export(model, path):
    """Writes model's file to path; raises ExportError before writing anything."""
    data = to_bytes(model)
    with open(path, "wb") as f:
        f.write(data)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("module", help="a whole module saved with torch.save")
    parser.add_argument("output", help="model file to write")
    args = parser.parse_args(argv)
    try:
        # A whole module is a pickle, which the weights-only loader refuses.
        model = torch.load(args.module, map_location="cpu", weights_only=False)
    except Exception as e:  # a file that is not a torch save fails in pickle or torch
        print(f"export_model: {args.module} cannot be loaded: {e}", file=sys.stderr)
        return 1
    try:
        if not isinstance(model, nn.Module):
            raise ExportError(f"{args.module} holds a {type(model).__name__}, not a module")
        model.eval()
        export(model, args.output)
    except (ExportError, OSError) as e:
        print(f"export_model: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
