// Placeholder: tests land with the component.
